// The unit database's units: starting and finishing their rows, listing
// them, the yield, and replaying a spool.
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "units/folders.h"
#include "units/job_tables.h"
#include "units/spool.h"
#include "units/unit_counts.h"
#include "units/unit_database_impl.h"

namespace farsend::units {

using namespace detail;

namespace {

struct Nullable {
    std::string text;
    soci::indicator indicator = soci::i_null;
};

long long ToSigned(std::uint64_t value) {
    return static_cast<long long>(value);
}

// The columns of a unit row, bound to a statement in this order.
struct UnitColumns {
    long long id = 0;
    std::string recordId, startTime, host, station, bridgeSerial, variant, version, file, sha256,
        message, jobName, jobSha256;
    std::string endTime, pool, result;
    soci::indicator endInd = soci::i_null, poolInd = soci::i_null, resultInd = soci::i_null;
    long long serial = 0, blocks = 0, bytes = 0;
    soci::indicator serialInd = soci::i_null, exitInd = soci::i_null;
    int numberReturned = 0, exitStatus = 0, simulated = 0;
    double seconds = 0.0;

    static constexpr const char* kSelect =
        "SELECT id, record_id, start_time, end_time, station, bridge_serial, variant, version,"
        " file, sha256, pool, serial, number_returned, blocks, bytes, seconds, result,"
        " exit_status, message, host, simulated, job_name, job_sha256 FROM units";

    void BindInto(soci::statement& statement) {
        statement.exchange(soci::into(id));
        statement.exchange(soci::into(recordId));
        statement.exchange(soci::into(startTime));
        statement.exchange(soci::into(endTime, endInd));
        statement.exchange(soci::into(station));
        statement.exchange(soci::into(bridgeSerial));
        statement.exchange(soci::into(variant));
        statement.exchange(soci::into(version));
        statement.exchange(soci::into(file));
        statement.exchange(soci::into(sha256));
        statement.exchange(soci::into(pool, poolInd));
        statement.exchange(soci::into(serial, serialInd));
        statement.exchange(soci::into(numberReturned));
        statement.exchange(soci::into(blocks));
        statement.exchange(soci::into(bytes));
        statement.exchange(soci::into(seconds));
        statement.exchange(soci::into(result, resultInd));
        statement.exchange(soci::into(exitStatus, exitInd));
        statement.exchange(soci::into(message));
        statement.exchange(soci::into(host));
        statement.exchange(soci::into(simulated));
        statement.exchange(soci::into(jobName));
        statement.exchange(soci::into(jobSha256));
    }

    UnitRow Row() const {
        UnitRow row;
        row.id = id;
        row.recordId = recordId;
        row.start.start = ParseUtc(startTime).value_or(TimePoint{});
        row.start.host = host;
        row.start.station = station;
        row.start.bridgeSerial = bridgeSerial;
        row.start.file = file;
        row.start.sha256 = sha256;
        row.start.simulated = simulated != 0;
        row.start.jobName = jobName;
        row.start.jobSha256 = jobSha256;
        if (poolInd == soci::i_ok) row.pool = pool;
        if (serialInd == soci::i_ok) row.serial = serial;
        row.numberReturned = numberReturned != 0;
        if (endInd == soci::i_ok) {
            UnitFinish finish;
            finish.end = ParseUtc(endTime).value_or(TimePoint{});
            finish.variant = variant;
            finish.version = version;
            finish.blocks = static_cast<std::uint64_t>(blocks);
            finish.bytes = static_cast<std::uint64_t>(bytes);
            finish.seconds = seconds;
            finish.result = resultInd == soci::i_ok
                                ? ParseUnitResult(result).value_or(UnitResult::Failed)
                                : UnitResult::Failed;
            finish.exitStatus = exitInd == soci::i_ok ? exitStatus : 0;
            finish.message = message;
            row.finish = finish;
        }
        return row;
    }
};

// The WHERE clause of a filter, its values bound as parameters.
class FilterBinding {
public:
    explicit FilterBinding(const UnitFilter& filter) {
        if (filter.since) {
            since_ = FormatUtc(*filter.since);
            clauses_.push_back("start_time >= :since");
        }
        if (filter.until) {
            until_ = FormatUtc(*filter.until);
            clauses_.push_back("start_time < :until");
        }
        if (filter.host) {
            host_ = *filter.host;
            clauses_.push_back("host = :host");
        }
        if (filter.station) {
            station_ = *filter.station;
            clauses_.push_back("station = :station");
        }
        if (filter.serial) {
            serial_ = *filter.serial;
            clauses_.push_back("serial = :serial");
        }
        if (filter.job) {
            job_ = *filter.job;
            clauses_.push_back("job_name = :job");
        }
        filter_ = filter;
    }
    std::string Where() const {
        std::string text;
        for (const std::string& clause : clauses_) {
            text += text.empty() ? " WHERE " : " AND ";
            text += clause;
        }
        return text;
    }
    void Bind(soci::statement& statement) {
        if (filter_.since) statement.exchange(soci::use(since_, "since"));
        if (filter_.until) statement.exchange(soci::use(until_, "until"));
        if (filter_.host) statement.exchange(soci::use(host_, "host"));
        if (filter_.station) statement.exchange(soci::use(station_, "station"));
        if (filter_.serial) statement.exchange(soci::use(serial_, "serial"));
        if (filter_.job) statement.exchange(soci::use(job_, "job"));
    }

private:
    UnitFilter filter_;
    std::vector<std::string> clauses_;
    std::string since_, until_, host_, station_, job_;
    long long serial_ = 0;
};

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// Replaces the spool with `lines` (none: removes it), through a new file
// renamed over the old one so that a crash leaves one or the other whole.
void RewriteSpool(const std::filesystem::path& spool, const std::vector<std::string>& lines) {
    std::error_code error;
    if (lines.empty()) {
        std::filesystem::remove(spool, error);
        if (error) {
            throw UnitDatabaseError(Kind::Unavailable, "cannot remove the replayed spool " +
                                                           spool.string() + ": " + error.message());
        }
        return;
    }
    const std::filesystem::path fresh = spool.string() + ".new";
    {
        std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines) out << line << '\n';
        out.flush();
        if (!out) {
            throw UnitDatabaseError(Kind::Unavailable, "cannot write the spool " + fresh.string());
        }
    }
    // Records are not for others to change, whatever the umask.
    std::filesystem::permissions(fresh, kRecordPermissions, error);
    std::filesystem::rename(fresh, spool, error);
    if (error) {
        throw UnitDatabaseError(Kind::Unavailable, "cannot replace the spool " + spool.string() +
                                                       ": " + error.message());
    }
}

void InsertUnit(Impl& db, const UnitRow& row, long long& id, CountChanges& counts) {
    const std::string start = FormatUtc(row.start.start);
    Nullable pool, end, result;
    if (!row.pool.empty()) pool = {row.pool, soci::i_ok};
    long long serial = row.serial.value_or(0);
    soci::indicator serialInd = row.serial ? soci::i_ok : soci::i_null;
    int returned = row.numberReturned ? 1 : 0;
    UnitFinish finish = row.finish.value_or(UnitFinish{});
    if (row.finish) {
        end = {FormatUtc(finish.end), soci::i_ok};
        result = {UnitResultName(finish.result), soci::i_ok};
    }
    long long blocks = ToSigned(finish.blocks), bytes = ToSigned(finish.bytes);
    int exitStatus = finish.exitStatus;
    soci::indicator exitInd = row.finish ? soci::i_ok : soci::i_null;
    int simulated = row.start.simulated ? 1 : 0;
    db.sql << "INSERT INTO units (record_id, start_time, end_time, station, bridge_serial,"
              " variant, version, file, sha256, pool, serial, number_returned, blocks, bytes,"
              " seconds, result, exit_status, message, host, simulated, job_name, job_sha256)"
              " VALUES (:record, :start,"
              " :end, :station, :bridge, :variant, :version, :file, :sha, :pool, :serial,"
              " :returned, :blocks, :bytes, :seconds, :result, :exit, :message, :host,"
              " :simulated, :job, :jobsha) RETURNING id",
        soci::use(row.recordId, "record"), soci::use(start, "start"),
        soci::use(end.text, end.indicator, "end"), soci::use(row.start.station, "station"),
        soci::use(row.start.bridgeSerial, "bridge"), soci::use(finish.variant, "variant"),
        soci::use(finish.version, "version"), soci::use(row.start.file, "file"),
        soci::use(row.start.sha256, "sha"), soci::use(pool.text, pool.indicator, "pool"),
        soci::use(serial, serialInd, "serial"), soci::use(returned, "returned"),
        soci::use(blocks, "blocks"), soci::use(bytes, "bytes"),
        soci::use(finish.seconds, "seconds"), soci::use(result.text, result.indicator, "result"),
        soci::use(exitStatus, exitInd, "exit"), soci::use(finish.message, "message"),
        soci::use(row.start.host, "host"), soci::use(simulated, "simulated"),
        soci::use(row.start.jobName, "job"), soci::use(row.start.jobSha256, "jobsha"),
        soci::into(id);
    counts.Add({start, row.start.host, row.start.station,
                row.finish ? std::optional<std::string>(result.text) : std::nullopt,
                finish.message});
}

// False when no row has the id.
bool UpdateFinish(Impl& db, long long id, const UnitFinish& finish, CountChanges& counts) {
    // Counted where it was until now; locked, so that no other writer moves
    // it between this read and the update.
    CountedUnit before;
    soci::indicator resultInd = soci::i_null;
    std::string oldResult;
    db.sql << std::string(
                  "SELECT start_time, host, station, result, message FROM units"
                  " WHERE id = :id") +
                  ForUpdate(db.engine),
        soci::use(id, "id"), soci::into(before.startTime), soci::into(before.host),
        soci::into(before.station), soci::into(oldResult, resultInd), soci::into(before.message);
    if (!db.sql.got_data()) return false;
    if (resultInd == soci::i_ok) before.result = oldResult;
    const std::string end = FormatUtc(finish.end);
    const std::string result = UnitResultName(finish.result);
    long long blocks = ToSigned(finish.blocks), bytes = ToSigned(finish.bytes);
    soci::statement statement =
        (db.sql.prepare << "UPDATE units SET end_time = :end, variant = :variant,"
                           " version = :version, blocks = :blocks, bytes = :bytes,"
                           " seconds = :seconds, result = :result, exit_status = :exit,"
                           " message = :message WHERE id = :id",
         soci::use(end, "end"), soci::use(finish.variant, "variant"),
         soci::use(finish.version, "version"), soci::use(blocks, "blocks"),
         soci::use(bytes, "bytes"), soci::use(finish.seconds, "seconds"),
         soci::use(result, "result"), soci::use(finish.exitStatus, "exit"),
         soci::use(finish.message, "message"), soci::use(id, "id"));
    statement.execute(true);
    if (statement.get_affected_rows() == 0) return false;
    CountedUnit after = before;
    after.result = result;
    after.message = finish.message;
    counts.Remove(before);
    counts.Add(after);
    return true;
}

// Writes one spooled record, inside the caller's transaction; whether it
// changed the database.
bool ReplayRecord(Impl& db, const UnitRow& record, CountChanges& counts) {
    soci::session& sql = db.sql;
    long long id = 0;
    std::string end;
    soci::indicator endInd = soci::i_null;
    sql << std::string("SELECT id, end_time FROM units WHERE record_id = :record") +
               ForUpdate(db.engine),
        soci::use(record.recordId, "record"), soci::into(id), soci::into(end, endInd);
    if (!sql.got_data()) {
        InsertUnit(db, record, id, counts);
        return true;
    }
    if (endInd != soci::i_ok && record.finish) {
        // Started while the database was there, finished while it was lost.
        UpdateFinish(db, id, *record.finish, counts);
        return true;
    }
    return false;
}

// Records per transaction: one commit (and its sync) for many records, and
// few enough that a replay cut short loses little of its work.
constexpr std::size_t kReplayBatch = 256;

}  // namespace

StartedUnit UnitDatabase::StartUnit(const UnitStart& start,
                                    const std::optional<std::string>& pool) {
    return Guarded(*impl_, "recording a unit", [&] {
        UnitRow row;
        row.recordId = NewRecordId();
        row.start = start;
        Transaction transaction(*impl_);
        if (start.jobUnitLimit) CountJobUnit(impl_->sql, impl_->engine, start);
        if (pool) {
            row.pool = *pool;
            row.serial = TakeNumber(*impl_, *pool);
        }
        long long id = 0;
        CountChanges counts;
        InsertUnit(*impl_, row, id, counts);
        counts.Apply(impl_->sql);
        CheckSameFile(*impl_);
        transaction.Commit();
        return StartedUnit{id, row.recordId, row.serial};
    });
}

void UnitDatabase::FinishUnit(std::int64_t id, const UnitFinish& finish) {
    Guarded(*impl_, "recording a unit's end", [&] {
        Transaction transaction(*impl_);
        CountChanges counts;
        if (!UpdateFinish(*impl_, id, finish, counts)) {
            throw UnitDatabaseError(Kind::UnknownUnit,
                                    "there is no unit " + std::to_string(id) + " to finish");
        }
        counts.Apply(impl_->sql);
        CheckSameFile(*impl_);
        transaction.Commit();
    });
}

std::vector<UnitRow> UnitDatabase::ListUnits(const UnitFilter& filter) {
    std::vector<UnitRow> rows;
    ForEachUnit(filter, [&rows](const UnitRow& row) { rows.push_back(row); });
    return rows;
}

void UnitDatabase::ForEachUnit(const UnitFilter& filter,
                               const std::function<void(const UnitRow&)>& each) {
    Guarded(*impl_, "listing the units", [&] {
        UnitColumns columns;
        FilterBinding binding(filter);
        soci::statement statement(impl_->sql);
        columns.BindInto(statement);
        binding.Bind(statement);
        statement.alloc();
        statement.prepare(std::string(UnitColumns::kSelect) + binding.Where() +
                          (filter.newestFirst ? " ORDER BY start_time DESC, id DESC"
                                              : " ORDER BY start_time, id") +
                          (filter.limit ? " LIMIT " + std::to_string(*filter.limit) : ""));
        statement.define_and_bind();
        statement.execute();
        while (statement.fetch()) each(columns.Row());
    });
}

std::vector<YieldRow> UnitDatabase::Yield(const UnitFilter& filter) {
    return Guarded(*impl_, "counting the yield", [&] {
        std::vector<YieldRow> rows;
        YieldRow row;
        long long programmed = 0, failed = 0, interrupted = 0, unfinished = 0;
        FilterBinding binding(filter);
        soci::statement statement(impl_->sql);
        statement.exchange(soci::into(row.host));
        statement.exchange(soci::into(row.station));
        statement.exchange(soci::into(row.hour));
        statement.exchange(soci::into(programmed));
        statement.exchange(soci::into(failed));
        statement.exchange(soci::into(interrupted));
        statement.exchange(soci::into(unfinished));
        binding.Bind(statement);
        statement.alloc();
        statement.prepare(
            "SELECT host, station, substr(start_time, 1, 13),"
            " sum(CASE WHEN result = 'programmed' THEN 1 ELSE 0 END),"
            " sum(CASE WHEN result = 'failed' THEN 1 ELSE 0 END),"
            " sum(CASE WHEN result = 'interrupted' THEN 1 ELSE 0 END),"
            " sum(CASE WHEN result IS NULL THEN 1 ELSE 0 END)"
            " FROM units" +
            binding.Where() +
            " GROUP BY host, station, substr(start_time, 1, 13)"
            " ORDER BY host, station, substr(start_time, 1, 13)");
        statement.define_and_bind();
        statement.execute();
        while (statement.fetch()) {
            row.programmed = programmed;
            row.failed = failed;
            row.interrupted = interrupted;
            row.unfinished = unfinished;
            rows.push_back(row);
        }
        return rows;
    });
}

ReplayResult UnitDatabase::ReplaySpool(const std::filesystem::path& spool,
                                       const ReplayProgress& progress) {
    ReplayResult outcome;
    if (!std::filesystem::exists(spool)) return outcome;
    // From the read to the emptying: a record appended meanwhile would be
    // emptied away without having been written.
    const SpoolLock lock(spool);
    if (!lock.Held()) throw UnitDatabaseError(Kind::Unavailable, lock.error());
    const std::vector<std::string> lines = ReadLines(spool);
    std::vector<std::string> keep;
    std::size_t index = 0;  // lines before it are in the database (or kept)
    try {
        while (index < lines.size()) {
            if (progress && !progress(index, lines.size())) {
                outcome.left = lines.size() - index;
                break;
            }
            const std::size_t end = std::min(lines.size(), index + kReplayBatch);
            std::vector<std::string> unreadable;
            std::size_t written = 0, already = 0;
            Guarded(*impl_, "replaying the spool", [&] {
                Transaction transaction(*impl_);
                CountChanges counts;
                for (std::size_t at = index; at < end; ++at) {
                    const std::optional<UnitRow> record = ParseSpoolLine(lines[at]);
                    if (!record) {
                        unreadable.push_back(lines[at]);
                    } else if (ReplayRecord(*impl_, *record, counts)) {
                        ++written;
                    } else {
                        ++already;
                    }
                }
                counts.Apply(impl_->sql);
                transaction.Commit();
            });
            keep.insert(keep.end(), unreadable.begin(), unreadable.end());
            outcome.written += written;
            outcome.already += already;
            index = end;
        }
        if (progress && index == lines.size()) progress(index, lines.size());
    } catch (const UnitDatabaseError&) {
        // What was not written stays in the spool for the next replay.
        for (; index < lines.size(); ++index) keep.push_back(lines[index]);
        RewriteSpool(spool, keep);
        throw;
    }
    outcome.kept = keep.size();
    for (; index < lines.size(); ++index) keep.push_back(lines[index]);
    RewriteSpool(spool, keep);
    return outcome;
}

void UnitDatabase::Query(const char* what, const std::function<void(soci::session&)>& work) {
    Guarded(*impl_, what, [&] { work(impl_->sql); });
}

void UnitDatabase::Run(const char* what, bool write,
                       const std::function<void(soci::session&, Engine)>& work) {
    Guarded(*impl_, what, [&] {
        if (!write) return work(impl_->sql, impl_->engine);
        Transaction transaction(*impl_);
        work(impl_->sql, impl_->engine);
        CheckSameFile(*impl_);
        transaction.Commit();
    });
}

void UnitDatabase::ExecuteForTest(const std::string& sql) {
    Guarded(*impl_, "running a statement", [&] { impl_->sql << sql; });
}

}  // namespace farsend::units

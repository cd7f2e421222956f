#include "units/unit_database.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

#include "common/database_name.h"
#include "common/printable_text.h"
#include "units/connection_cutter.h"
#include "units/file_identity.h"
#include "units/folders.h"
#include "units/job_tables.h"
#include "units/soci.h"
#include "units/spool.h"
#include "units/statement_watchdog.h"

namespace farsend::units {

struct UnitDatabase::Impl {
    Engine engine = Engine::SQLite;
    soci::session sql;
    int version = 0;
    std::string shown;  // the location fit for messages
    // SQLite: the file opened, and which file it was.
    std::filesystem::path file;
    std::optional<FileIdentity> identity;
    // PostgreSQL: gone before the session, whose socket it may cut.
    std::unique_ptr<StatementWatchdog> watchdog;
};

namespace {

using Kind = UnitDatabaseError::Kind;
using Impl = UnitDatabase::Impl;

// Everything the engines disagree on.
const char* UnitIdColumn(Engine engine) {
    return engine == Engine::SQLite ? "INTEGER PRIMARY KEY AUTOINCREMENT" : "BIGSERIAL PRIMARY KEY";
}
// SQLite locks the whole file for a writing transaction (BEGIN IMMEDIATE);
// PostgreSQL locks the rows read with FOR UPDATE.
const char* ForUpdate(Engine engine) {
    return engine == Engine::PostgreSQL ? " FOR UPDATE" : "";
}

// A writing transaction. SQLite's plain BEGIN takes its write lock only at
// the first write, so two processes that both read a pool first would then
// deadlock on upgrading; BEGIN IMMEDIATE takes it at once, and the busy
// timeout makes the other one wait for it instead of failing.
class Transaction {
public:
    explicit Transaction(Impl& db) : sql_(db.sql) {
        sql_ << (db.engine == Engine::SQLite ? "BEGIN IMMEDIATE" : "BEGIN");
    }
    ~Transaction() {
        if (open_) {
            try {
                sql_ << "ROLLBACK";
            } catch (const std::exception&) {
                // The connection is gone; so is the transaction.
            }
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void Commit() {
        sql_ << "COMMIT";
        open_ = false;
    }

private:
    soci::session& sql_;
    bool open_ = true;
};

// A station that kept writing into a deleted file would record units nobody
// will ever see, and one that reopened a file put in its place (a backup)
// would issue its numbers again: either way the database it opened is lost.
void CheckSameFile(const Impl& db) {
    if (!db.identity) return;
    const std::optional<FileIdentity> now = IdentityOf(db.file);
    if (now && *now == *db.identity) return;
    throw UnitDatabaseError(Kind::FileReplaced, "the unit database file " + db.file.string() +
                                                    (now ? " was replaced by another file"
                                                         : " was deleted or moved away") +
                                                    " since this run opened it");
}

std::string Seconds(std::chrono::milliseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(time.count()) / 1000.0);
    return text;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// An engine's message, fit for a terminal: its lines kept (a server's hint
// comes on a line of its own), each escaped, since the engines quote bound
// values (a target's version, a file's name) as they are.
std::string EngineText(const std::string& text) {
    std::string shown, line;
    std::istringstream lines(Trimmed(text));
    while (std::getline(lines, line)) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos) continue;
        shown += (shown.empty() ? "" : "\n  ") + PrintableText(line.substr(start));
    }
    return shown;
}

// The engine's error, or what the watchdog did when it cut the connection.
std::string Why(const Impl& db, const std::exception& error) {
    if (db.watchdog) {
        switch (db.watchdog->Fired()) {
            case StatementWatchdog::Cause::TimedOut:
                return "no answer within " + Seconds(db.watchdog->limit()) +
                       " s (FARSEND_DB_TIMEOUT)";
            case StatementWatchdog::Cause::Abandoned:
                return "no longer waited for: a stop was asked for";
            case StatementWatchdog::Cause::None:
                break;
        }
    }
    return Trimmed(error.what());
}

// Runs `work`, turning the engines' errors into Unavailable: to a station,
// a database that refuses a statement is one it cannot record in.
template <typename Work>
auto Guarded(Impl& db, const char* what, Work&& work) -> decltype(work()) {
    CheckSameFile(db);
    const StatementWatchdog::Watch watch(db.watchdog.get());
    try {
        return work();
    } catch (const UnitDatabaseError&) {
        throw;
    } catch (const std::exception& error) {
        throw UnitDatabaseError(Kind::Unavailable, std::string("unit database: ") + what + ": " +
                                                       EngineText(Why(db, error)));
    }
}

void CreateTables(Impl& db) {
    soci::session& sql = db.sql;
    sql << "CREATE TABLE pools ("
           " name TEXT PRIMARY KEY,"
           " first_number BIGINT NOT NULL,"
           " last_number BIGINT,"
           " next_number BIGINT NOT NULL)";
    sql << "CREATE TABLE returned_numbers ("
           " pool TEXT NOT NULL REFERENCES pools (name),"
           " number BIGINT NOT NULL,"
           " PRIMARY KEY (pool, number))";
    sql << std::string("CREATE TABLE units (id ") + UnitIdColumn(db.engine) +
               ","
               " record_id TEXT NOT NULL UNIQUE,"
               " start_time TEXT NOT NULL,"
               " end_time TEXT,"
               " host TEXT NOT NULL DEFAULT '',"
               " station TEXT NOT NULL,"
               " bridge_serial TEXT NOT NULL,"
               " variant TEXT NOT NULL DEFAULT '',"
               " version TEXT NOT NULL DEFAULT '',"
               " file TEXT NOT NULL,"
               " sha256 TEXT NOT NULL,"
               " pool TEXT REFERENCES pools (name),"
               " serial BIGINT,"
               " number_returned INTEGER NOT NULL DEFAULT 0,"
               " blocks BIGINT NOT NULL DEFAULT 0,"
               " bytes BIGINT NOT NULL DEFAULT 0,"
               " seconds DOUBLE PRECISION NOT NULL DEFAULT 0,"
               " result TEXT,"
               " exit_status INTEGER,"
               " message TEXT NOT NULL DEFAULT '',"
               " simulated INTEGER NOT NULL DEFAULT 0)";
    // The last guard against a number issued twice, whatever the code above
    // it does: a returned number may appear again, an issued one may not.
    sql << "CREATE UNIQUE INDEX units_issued_serial ON units (pool, serial)"
           " WHERE number_returned = 0";
    sql << "CREATE INDEX units_start_time ON units (start_time)";
    AddJobTables(sql);
    const int version = kSchemaVersion;
    sql << "INSERT INTO schema_version (version) VALUES (:version)", soci::use(version);
}

// Brings a database of an older schema to this one, inside the caller's
// transaction. Version 1 had no host (its rows say ''; they were written
// before PCs were told apart) and no simulated mark (its rows count as real).
void Migrate(Impl& db, int from) {
    if (from < 2) {
        db.sql << "ALTER TABLE units ADD COLUMN host TEXT NOT NULL DEFAULT ''";
        db.sql << "ALTER TABLE units ADD COLUMN simulated INTEGER NOT NULL DEFAULT 0";
    }
    // Version 2 had no production jobs: its rows were programmed under none.
    if (from < 3) AddJobTables(db.sql);
    const int version = kSchemaVersion;
    db.sql << "INSERT INTO schema_version (version) VALUES (:version)", soci::use(version);
}

// Creates the schema in an empty database, or checks the one there.
void PrepareSchema(Impl& db, const std::string& location) {
    Transaction transaction(db);
    if (db.engine == Engine::PostgreSQL) {
        // Two stations starting at once on an empty database would both
        // create the tables; this lock lets one of them do it.
        db.sql << "SELECT pg_advisory_xact_lock(5317001)";
    }
    db.sql << "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";
    long long rows = 0;
    db.sql << "SELECT count(*) FROM schema_version", soci::into(rows);
    if (rows == 0) {
        CreateTables(db);
        db.version = kSchemaVersion;
    } else {
        int version = 0;
        db.sql << "SELECT max(version) FROM schema_version", soci::into(version);
        if (version > kSchemaVersion) {
            throw UnitDatabaseError(
                Kind::SchemaTooNew,
                "the unit database " + DisplayLocation(location) + " has schema version " +
                    std::to_string(version) + ", newer than this program's (" +
                    std::to_string(kSchemaVersion) +
                    "): a newer farsend wrote it; use that one, or another database");
        }
        if (version < kSchemaVersion) {
            Migrate(db, version);
            version = kSchemaVersion;
        }
        db.version = version;
    }
    transaction.Commit();
}

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
        if (filter_.host) statement.exchange(soci::use(host_, "host"));
        if (filter_.station) statement.exchange(soci::use(station_, "station"));
        if (filter_.serial) statement.exchange(soci::use(serial_, "serial"));
        if (filter_.job) statement.exchange(soci::use(job_, "job"));
    }

private:
    UnitFilter filter_;
    std::vector<std::string> clauses_;
    std::string since_, host_, station_, job_;
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

}  // namespace

const char* UnitResultName(UnitResult result) {
    switch (result) {
        case UnitResult::Programmed:
            return "programmed";
        case UnitResult::Failed:
            return "failed";
        case UnitResult::Interrupted:
            return "interrupted";
    }
    return "failed";
}

std::optional<UnitResult> ParseUnitResult(const std::string& name) {
    for (UnitResult result :
         {UnitResult::Programmed, UnitResult::Failed, UnitResult::Interrupted}) {
        if (name == UnitResultName(result)) return result;
    }
    return std::nullopt;
}

std::string DefaultDatabaseLocation(const char* (*getenv)(const char*)) {
    auto lookup = [getenv](const char* name) -> std::string {
        const char* value = getenv != nullptr ? getenv(name) : std::getenv(name);
        return value != nullptr ? value : "";
    };
    // A relative XDG_DATA_HOME counts as unset, as XDG has it.
    std::string data = lookup("XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') {
        const std::string home = lookup("HOME");
        if (home.empty()) return "";
        data = home + "/.local/share";
    }
    return data + "/farsend/units.sqlite";
}

std::string DefaultSimulatedDatabaseLocation(const char* (*getenv)(const char*)) {
    const std::string real = DefaultDatabaseLocation(getenv);
    if (real.empty()) return "";
    return std::filesystem::path(real).replace_filename("sim-units.sqlite").string();
}

std::string DisplayLocation(const std::string& location) {
    return MaskedDatabaseName(location);
}

UnitDatabase::UnitDatabase(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UnitDatabase::~UnitDatabase() = default;

std::chrono::milliseconds DatabaseOptions::DefaultDatabaseTimeout() {
    constexpr std::chrono::milliseconds kDefault{10000};
    const char* text = std::getenv("FARSEND_DB_TIMEOUT");
    if (text == nullptr || *text == '\0') return kDefault;
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (*end != '\0' || !(seconds > 0) || seconds > 86400) return kDefault;
    return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
}

namespace {

bool HasParameter(const std::string& url, const std::string& name) {
    const std::size_t query = url.find('?');
    if (query == std::string::npos) return false;
    for (std::size_t at = query; at != std::string::npos; at = url.find('&', at + 1)) {
        if (url.compare(at + 1, name.size() + 1, name + "=") == 0) return true;
    }
    return false;
}

// The URL with libpq's time-outs added, unless it sets them itself: a
// server that does not answer the connection, or a network that dropped it,
// is found out instead of waited for.
std::string WithTimeouts(const std::string& url, std::chrono::milliseconds timeout) {
    const long long seconds = std::max<long long>(1, (timeout.count() + 999) / 1000);
    const std::pair<const char*, std::string> parameters[] = {
        {"connect_timeout", std::to_string(seconds)},
        {"keepalives", "1"},
        {"keepalives_idle", std::to_string(seconds)},
        {"keepalives_interval", "1"},
        {"keepalives_count", "3"},
        {"tcp_user_timeout", std::to_string(timeout.count())},
    };
    std::string result = url;
    for (const auto& [name, value] : parameters) {
        if (HasParameter(url, name)) continue;
        result +=
            (result.find('?') == std::string::npos ? "?" : "&") + std::string(name) + "=" + value;
    }
    return result;
}

void OpenPostgreSQL(Impl& impl, const std::string& location, const DatabaseOptions& options) {
    impl.engine = Engine::PostgreSQL;
    // The backend by name: SOCI loads it, and with it the PostgreSQL
    // client and its TLS and Kerberos libraries (some 5 MB), only
    // when a station is given a server, not on every start.
    impl.sql.open("postgresql", WithTimeouts(location, options.timeout));
    if (std::function<void()> cut = ConnectionCutter(impl.sql)) {
        impl.watchdog =
            std::make_unique<StatementWatchdog>(options.timeout, options.abandon, std::move(cut));
    }
    const StatementWatchdog::Watch watch(impl.watchdog.get());
    // The server's notices (a table that exists already) are no news
    // to a station's operator.
    impl.sql << "SET client_min_messages = warning";
    // A statement held up in a running server (a lock another station
    // holds) ends there; one that gets no answer at all, the watchdog ends.
    impl.sql << "SET statement_timeout = " + std::to_string(options.timeout.count());
    if (options.readOnly) impl.sql << "SET default_transaction_read_only = on";
}

// An SQLite URI that opens the file read-only as one that does not change.
std::string ImmutableUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri + "?mode=ro&immutable=1";
}

void OpenSQLite(Impl& impl, const std::string& location, const DatabaseOptions& options) {
    // SOCI reads the path from a quoted connection parameter, which
    // cannot itself hold a quote.
    if (location.find('"') != std::string::npos) {
        throw UnitDatabaseError(Kind::Unavailable, "cannot open the unit database " + impl.shown +
                                                       ": its path holds a double quote");
    }
    impl.engine = Engine::SQLite;
    impl.file = location;
    if (options.readOnly) {
        impl.sql.open(soci::sqlite3, "db=\"" + location + "\" timeout=30 readonly=1");
        try {
            impl.sql << "SELECT count(*) FROM sqlite_master";
        } catch (const soci::soci_error&) {
            // A write-ahead log's index (-shm) that this user may neither
            // create nor write: read the file as it stands, as a snapshot.
            impl.sql.close();
            impl.sql.open(soci::sqlite3, "db=\"" + ImmutableUri(location) + "\" timeout=30");
        }
    } else {
        const std::filesystem::path path(location);
        std::error_code error;
        const std::filesystem::path folder =
            path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
        if (!std::filesystem::is_directory(folder, error)) {
            if (!options.createFolder) {
                throw UnitDatabaseError(
                    Kind::Unavailable,
                    "cannot open the unit database " + impl.shown + ": the folder " +
                        PrintableText(folder.string()) +
                        " does not exist (a mistyped path?); make it first, or give "
                        "the path of an existing folder");
            }
            CreateFolders(folder, error);
            if (error) {
                throw UnitDatabaseError(Kind::Unavailable,
                                        "cannot create the folder of the unit database " +
                                            impl.shown + ": " + error.message());
            }
        }
        // timeout: seconds that a writer waits for another station's
        // transaction instead of failing.
        impl.sql.open(soci::sqlite3, "db=\"" + location + "\" timeout=30");
    }
    impl.identity = IdentityOf(impl.file);
    impl.sql << "PRAGMA foreign_keys = ON";
    if (options.readOnly) return;
    // A unit costs two commits. With the rollback journal each one
    // syncs the journal and the database file several times; the
    // write-ahead log syncs once per commit, and with synchronous
    // FULL a committed row still survives a crash or a power cut.
    // Readers (`farsend units`) no longer hold up the stations.
    impl.sql << "PRAGMA journal_mode = WAL";
    impl.sql << "PRAGMA synchronous = FULL";
}

// The version of the schema there, read without writing.
void ReadSchemaVersion(Impl& db) {
    int version = 0;
    soci::indicator versionInd = soci::i_null;
    db.sql << "SELECT max(version) FROM schema_version", soci::into(version, versionInd);
    db.version = versionInd == soci::i_ok ? version : 0;
    if (db.version > kSchemaVersion) {
        throw UnitDatabaseError(Kind::SchemaTooNew,
                                "the unit database " + db.shown + " has schema version " +
                                    std::to_string(db.version) + ", newer than this program's (" +
                                    std::to_string(kSchemaVersion) + "): a newer farsend wrote it");
    }
}

}  // namespace

std::unique_ptr<UnitDatabase> UnitDatabase::Open(const std::string& given,
                                                 const DatabaseOptions& options) {
    auto impl = std::make_unique<Impl>();
    impl->shown = DisplayLocation(given);
    if (given.empty()) throw UnitDatabaseError(Kind::Unavailable, "no unit database given");
    const DatabaseNameResult name = ParseDatabaseName(given);
    if (!name.name) throw UnitDatabaseError(Kind::InvalidArgument, name.error);
    const std::string& location = name.name->location;
    try {
        if (name.name->engine == DatabaseEngine::PostgreSQL) {
            OpenPostgreSQL(*impl, location, options);
        } else {
            OpenSQLite(*impl, location, options);
        }
        const StatementWatchdog::Watch watch(impl->watchdog.get());
        if (options.readOnly) {
            ReadSchemaVersion(*impl);
        } else {
            PrepareSchema(*impl, location);
        }
    } catch (const UnitDatabaseError&) {
        throw;
    } catch (const std::exception& error) {
        throw UnitDatabaseError(Kind::Unavailable,
                                "cannot open the unit database " + impl->shown + ": " +
                                    EngineText(WithoutPasswords(Why(*impl, error), given)));
    }
    return std::unique_ptr<UnitDatabase>(new UnitDatabase(std::move(impl)));
}

Engine UnitDatabase::engine() const {
    return impl_->engine;
}

int UnitDatabase::schemaVersion() const {
    return impl_->version;
}

namespace {

// The pool's next number, inside the caller's transaction: a returned number
// first (the lowest), else the next one never issued.
long long TakeNumber(Impl& db, const std::string& name) {
    soci::session& sql = db.sql;
    long long first = 0, last = 0, next = 0;
    soci::indicator lastInd = soci::i_null;
    sql << std::string(
               "SELECT first_number, last_number, next_number FROM pools WHERE name = :name") +
               ForUpdate(db.engine),
        soci::use(name, "name"), soci::into(first), soci::into(last, lastInd), soci::into(next);
    if (!sql.got_data()) {
        throw UnitDatabaseError(Kind::UnknownPool, "there is no number pool '" + name +
                                                       "' (farsend serials init NAME --first N)");
    }
    long long returned = 0;
    soci::indicator returnedInd = soci::i_null;
    sql << "SELECT min(number) FROM returned_numbers WHERE pool = :name", soci::use(name, "name"),
        soci::into(returned, returnedInd);
    if (sql.got_data() && returnedInd == soci::i_ok) {
        sql << "DELETE FROM returned_numbers WHERE pool = :name AND number = :number",
            soci::use(name, "name"), soci::use(returned, "number");
        return returned;
    }
    // A pool without a last number ends where its next number can no
    // longer be stored: never a wrap to negative numbers.
    const long long end =
        lastInd == soci::i_ok ? std::min<long long>(last, kLargestPoolNumber) : kLargestPoolNumber;
    if (next > end) {
        throw UnitDatabaseError(Kind::PoolExhausted, "the number pool '" + name +
                                                         "' is exhausted: all of " +
                                                         std::to_string(first) + ".." +
                                                         std::to_string(end) + " have been issued");
    }
    const long long after = next + 1;
    sql << "UPDATE pools SET next_number = :after WHERE name = :name", soci::use(after, "after"),
        soci::use(name, "name");
    return next;
}

void InsertUnit(Impl& db, const UnitRow& row, long long& id) {
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
}

// False when no row has the id.
bool UpdateFinish(Impl& db, long long id, const UnitFinish& finish) {
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
    return statement.get_affected_rows() > 0;
}

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
        InsertUnit(*impl_, row, id);
        CheckSameFile(*impl_);
        transaction.Commit();
        return StartedUnit{id, row.recordId, row.serial};
    });
}

void UnitDatabase::FinishUnit(std::int64_t id, const UnitFinish& finish) {
    Guarded(*impl_, "recording a unit's end", [&] {
        if (!UpdateFinish(*impl_, id, finish)) {
            throw UnitDatabaseError(Kind::UnknownUnit,
                                    "there is no unit " + std::to_string(id) + " to finish");
        }
    });
}

void UnitDatabase::ReturnNumber(std::int64_t id) {
    Guarded(*impl_, "returning a number", [&] {
        soci::session& sql = impl_->sql;
        Transaction transaction(*impl_);
        long long unit = id, serial = 0, blocks = 0;
        std::string pool;
        soci::indicator poolInd = soci::i_null, serialInd = soci::i_null;
        int returned = 0;
        sql << std::string(
                   "SELECT pool, serial, blocks, number_returned FROM units WHERE id = :id") +
                   ForUpdate(impl_->engine),
            soci::use(unit, "id"), soci::into(pool, poolInd), soci::into(serial, serialInd),
            soci::into(blocks), soci::into(returned);
        if (!sql.got_data()) {
            throw UnitDatabaseError(Kind::UnknownUnit, "there is no unit " + std::to_string(id));
        }
        if (poolInd != soci::i_ok || serialInd != soci::i_ok) {
            throw UnitDatabaseError(Kind::InvalidArgument,
                                    "unit " + std::to_string(id) + " took no number");
        }
        if (returned != 0) return;  // returned before: once is enough
        if (blocks > 0) {
            throw UnitDatabaseError(Kind::NumberInUse, "unit " + std::to_string(id) + " was sent " +
                                                           std::to_string(blocks) +
                                                           " blocks: its number " +
                                                           std::to_string(serial) + " stays spent");
        }
        sql << "INSERT INTO returned_numbers (pool, number) VALUES (:pool, :number)",
            soci::use(pool, "pool"), soci::use(serial, "number");
        sql << "UPDATE units SET number_returned = 1 WHERE id = :id", soci::use(unit, "id");
        transaction.Commit();
    });
}

void UnitDatabase::CreatePool(const std::string& name, std::int64_t first,
                              std::optional<std::int64_t> last) {
    if (name.empty()) throw UnitDatabaseError(Kind::InvalidArgument, "a pool needs a name");
    if (first < 0) {
        throw UnitDatabaseError(Kind::InvalidArgument, "a pool's first number cannot be negative");
    }
    if (first > kLargestPoolNumber || (last && *last > kLargestPoolNumber)) {
        throw UnitDatabaseError(Kind::InvalidArgument,
                                "a pool's numbers end at " + std::to_string(kLargestPoolNumber) +
                                    " (the database keeps the next number in 64 bits)");
    }
    if (last && *last < first) {
        throw UnitDatabaseError(Kind::InvalidArgument,
                                "the pool's last number " + std::to_string(*last) +
                                    " is below its first " + std::to_string(first));
    }
    Guarded(*impl_, "creating a pool", [&] {
        soci::session& sql = impl_->sql;
        Transaction transaction(*impl_);
        long long existing = 0;
        sql << "SELECT count(*) FROM pools WHERE name = :name", soci::use(name, "name"),
            soci::into(existing);
        if (existing > 0) {
            throw UnitDatabaseError(Kind::PoolExists,
                                    "the number pool '" + name + "' exists already");
        }
        long long firstNumber = first, lastNumber = last.value_or(0);
        soci::indicator lastInd = last ? soci::i_ok : soci::i_null;
        sql << "INSERT INTO pools (name, first_number, last_number, next_number)"
               " VALUES (:name, :first, :last, :next)",
            soci::use(name, "name"), soci::use(firstNumber, "first"),
            soci::use(lastNumber, lastInd, "last"), soci::use(firstNumber, "next");
        transaction.Commit();
    });
}

std::vector<PoolInfo> UnitDatabase::ListPools() {
    return Guarded(
        *impl_, "listing the pools", [&] {
            std::vector<PoolInfo> pools;
            std::string name;
            long long first = 0, last = 0, next = 0, returned = 0;
            soci::indicator lastInd = soci::i_null;
            soci::statement statement =
                (impl_->sql.prepare
                     << "SELECT p.name, p.first_number, p.last_number, p.next_number,"
                        " (SELECT count(*) FROM returned_numbers r WHERE r.pool = p.name)"
                        " FROM pools p ORDER BY p.name",
                 soci::into(name), soci::into(first), soci::into(last, lastInd), soci::into(next),
                 soci::into(returned));
            statement.execute();
            while (statement.fetch()) {
                PoolInfo pool;
                pool.name = name;
                pool.first = first;
                if (lastInd == soci::i_ok) {
                    pool.last = last;
                    pool.remaining = last - next + 1 + returned;
                }
                pool.next = next;
                pool.returned = returned;
                pool.issued = next - first - returned;
                pools.push_back(pool);
            }
            return pools;
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
                          " ORDER BY start_time, id");
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

namespace {

// Writes one spooled record, inside the caller's transaction; whether it
// changed the database.
bool ReplayRecord(Impl& db, const UnitRow& record) {
    soci::session& sql = db.sql;
    long long id = 0;
    std::string end;
    soci::indicator endInd = soci::i_null;
    sql << std::string("SELECT id, end_time FROM units WHERE record_id = :record") +
               ForUpdate(db.engine),
        soci::use(record.recordId, "record"), soci::into(id), soci::into(end, endInd);
    if (!sql.got_data()) {
        InsertUnit(db, record, id);
        return true;
    }
    if (endInd != soci::i_ok && record.finish) {
        // Started while the database was there, finished while it was lost.
        UpdateFinish(db, id, *record.finish);
        return true;
    }
    return false;
}

// Records per transaction: one commit (and its sync) for many records, and
// few enough that a replay cut short loses little of its work.
constexpr std::size_t kReplayBatch = 256;

}  // namespace

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
                for (std::size_t at = index; at < end; ++at) {
                    const std::optional<UnitRow> record = ParseSpoolLine(lines[at]);
                    if (!record) {
                        unreadable.push_back(lines[at]);
                    } else if (ReplayRecord(*impl_, *record)) {
                        ++written;
                    } else {
                        ++already;
                    }
                }
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

#include "units/unit_counts.h"

#include <cstdint>
#include <memory>
#include <string>

namespace farsend::units::detail {
namespace {

constexpr const char* kFailed = "failed";

// 64-bit FNV-1a: the same number for the same reason on every build and
// engine, which the database itself cannot compute alike.
long long MessageKey(const std::string& message) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : message) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return static_cast<long long>(hash);
}

constexpr const char* kUpsert =
    "INSERT INTO unit_counts (hour, host, station, result, message_key, message, units, latest)"
    " VALUES (:hour, :host, :station, :result, :key, :message, :units, :latest)"
    " ON CONFLICT (hour, host, station, result, message_key) DO UPDATE SET"
    " units = unit_counts.units + excluded.units,"
    " latest = CASE WHEN excluded.latest > unit_counts.latest"
    " THEN excluded.latest ELSE unit_counts.latest END";

// Writes counts with the values set in the members the statements are
// bound to. `many`: the upsert is prepared once and run for every key (a
// replay, a recount); otherwise each runs on its own, which for a unit's
// one or two keys spares PostgreSQL's round trips of preparing a statement
// and letting it go.
class CountWriter {
public:
    CountWriter(soci::session& sql, bool many) : sql_(sql) {
        if (many) {
            upsert_ = std::make_unique<soci::statement>(
                (sql.prepare << kUpsert, soci::use(key_.hour, "hour"), soci::use(key_.host, "host"),
                 soci::use(key_.station, "station"), soci::use(key_.result, "result"),
                 soci::use(key_.messageKey, "key"), soci::use(message_, "message"),
                 soci::use(units_, "units"), soci::use(latest_, "latest")));
        }
    }

    void Add(const CountKey& key, const std::string& message, long long units,
             const std::string& latest) {
        key_ = key;
        message_ = message;
        units_ = units;
        latest_ = latest;
        if (upsert_) {
            upsert_->execute(true);
        } else {
            sql_ << kUpsert, soci::use(key_.hour, "hour"), soci::use(key_.host, "host"),
                soci::use(key_.station, "station"), soci::use(key_.result, "result"),
                soci::use(key_.messageKey, "key"), soci::use(message_, "message"),
                soci::use(units_, "units"), soci::use(latest_, "latest");
        }
    }
    // A reason's latest unit left it: the latest of those still there,
    // found among the few units of its hour and station. Rare (a failed
    // unit finished again), so prepared only when needed.
    void SetLatestAgain(const CountKey& key, const std::string& message) {
        key_ = key;
        message_ = message;
        if (!relatest_) {
            relatest_ = std::make_unique<soci::statement>(
                (sql_.prepare
                     << "UPDATE unit_counts SET latest = COALESCE((SELECT max(start_time)"
                        " FROM units WHERE substr(start_time, 1, 13) = :uhour AND host = :uhost"
                        " AND station = :ustation AND result = :uresult AND message = :message),"
                        " '') WHERE hour = :hour AND host = :host AND station = :station"
                        " AND result = :result AND message_key = :key",
                 soci::use(key_.hour, "uhour"), soci::use(key_.host, "uhost"),
                 soci::use(key_.station, "ustation"), soci::use(key_.result, "uresult"),
                 soci::use(message_, "message"), soci::use(key_.hour, "hour"),
                 soci::use(key_.host, "host"), soci::use(key_.station, "station"),
                 soci::use(key_.result, "result"), soci::use(key_.messageKey, "key")));
        }
        relatest_->execute(true);
    }

private:
    soci::session& sql_;
    CountKey key_;
    std::string message_, latest_;
    long long units_ = 0;
    std::unique_ptr<soci::statement> upsert_, relatest_;
};

CountKey KeyOf(const std::string& startTime, const std::string& host, const std::string& station,
               const std::string& result, const std::string& message) {
    CountKey key;
    key.hour = startTime.substr(0, 13);
    key.host = host;
    key.station = station;
    key.result = result;
    key.messageKey = result == kFailed ? MessageKey(message) : 0;
    return key;
}

}  // namespace

void CountChanges::Change(const CountedUnit& unit, int units) {
    const std::string result = unit.result.value_or("");
    const bool failed = result == kFailed;
    Delta& delta = changes_[KeyOf(unit.startTime, unit.host, unit.station, result, unit.message)];
    delta.message = failed ? unit.message : "";
    delta.units += units;
    if (units > 0 && unit.startTime > delta.latest) delta.latest = unit.startTime;
    if (units < 0 && failed) delta.lost = true;
}

void CountChanges::Apply(soci::session& sql) {
    if (changes_.empty()) return;
    CountWriter writer(sql, changes_.size() > 4);
    for (const auto& [key, delta] : changes_) {
        if (delta.units != 0 || !delta.latest.empty()) {
            writer.Add(key, delta.message, delta.units, delta.latest);
        }
        if (delta.lost) writer.SetLatestAgain(key, delta.message);
    }
    changes_.clear();
}

void CreateUnitCounts(soci::session& sql) {
    // A unit still in hand is counted under result ''. `latest` is the
    // newest start among a failure reason's units (the reasons are ranked
    // by it after their count); for other results it is never lowered.
    sql << "CREATE TABLE unit_counts ("
           " hour TEXT NOT NULL,"
           " host TEXT NOT NULL,"
           " station TEXT NOT NULL,"
           " result TEXT NOT NULL,"
           " message_key BIGINT NOT NULL,"
           " message TEXT NOT NULL,"
           " units BIGINT NOT NULL,"
           " latest TEXT NOT NULL,"
           " PRIMARY KEY (hour, host, station, result, message_key))";
}

void RecountUnits(soci::session& sql) {
    sql << "DELETE FROM unit_counts";
    std::string hour, host, station, result, message, latest;
    soci::indicator resultInd = soci::i_null;
    long long units = 0;
    // Grouped by the database; the keys are made here, where the hash is.
    soci::statement groups =
        (sql.prepare << "SELECT substr(start_time, 1, 13), host, station, result,"
                        " CASE WHEN result = 'failed' THEN message ELSE '' END,"
                        " count(*), max(start_time) FROM units GROUP BY 1, 2, 3, 4, 5",
         soci::into(hour), soci::into(host), soci::into(station), soci::into(result, resultInd),
         soci::into(message), soci::into(units), soci::into(latest));
    // The first row with the execution, as yield_queries.cpp reads them.
    const bool any = groups.execute(true);
    // Gathered first: one connection runs one statement at a time. Two
    // results the database tells apart may share a key (a result '' beside
    // one that is NULL): they are added up, as they are read.
    struct Group {
        std::string message, latest;
        long long units = 0;
    };
    std::map<CountKey, Group> counts;
    for (bool row = any; row; row = groups.fetch()) {
        const std::string named = resultInd == soci::i_ok ? result : "";
        Group& group = counts[KeyOf(hour, host, station, named, message)];
        group.message = message;
        group.units += units;
        if (latest > group.latest) group.latest = latest;
    }
    CountWriter writer(sql, true);
    for (const auto& [key, group] : counts)
        writer.Add(key, group.message, group.units, group.latest);
}

}  // namespace farsend::units::detail

#include "units/yield_queries.h"

#include <utility>

#include "units/soci.h"

namespace farsend::units {
namespace {

// The WHERE clause of a range, its values bound as parameters. Times are
// compared as the text the database holds: that format sorts as time does.
class RangeBinding {
public:
    explicit RangeBinding(const RangeFilter& filter)
        : from_(FormatUtc(filter.from)), to_(FormatUtc(filter.to)), filter_(filter) {}

    std::string Where() const {
        std::string text = " WHERE start_time >= :from AND start_time < :to";
        if (filter_.host) text += " AND host = :host";
        if (filter_.station) text += " AND station = :station";
        return text;
    }
    void Bind(soci::statement& statement) const {
        statement.exchange(soci::use(from_, "from"));
        statement.exchange(soci::use(to_, "to"));
        if (filter_.host) statement.exchange(soci::use(*filter_.host, "host"));
        if (filter_.station) statement.exchange(soci::use(*filter_.station, "station"));
    }

private:
    std::string from_, to_;
    const RangeFilter& filter_;
};

constexpr const char* kCountColumns =
    " sum(CASE WHEN result = 'programmed' THEN 1 ELSE 0 END),"
    " sum(CASE WHEN result = 'failed' THEN 1 ELSE 0 END),"
    " sum(CASE WHEN result = 'interrupted' THEN 1 ELSE 0 END),"
    " sum(CASE WHEN result IS NULL THEN 1 ELSE 0 END)";

// The four counts of kCountColumns, fetched into one ResultCounts.
struct CountColumns {
    long long programmed = 0, failed = 0, interrupted = 0, unfinished = 0;

    void BindInto(soci::statement& statement) {
        statement.exchange(soci::into(programmed));
        statement.exchange(soci::into(failed));
        statement.exchange(soci::into(interrupted));
        statement.exchange(soci::into(unfinished));
    }
    ResultCounts Counts() const { return {programmed, failed, interrupted, unfinished}; }
};

// Prepares `text` on `statement` whose results and parameters are bound,
// and runs it.
void Run(soci::statement& statement, const std::string& text) {
    statement.alloc();
    statement.prepare(text);
    statement.define_and_bind();
    statement.execute();
}

}  // namespace

UnitFilter RangeFilter::Units() const {
    UnitFilter filter;
    filter.since = from;
    filter.until = to;
    filter.host = host;
    filter.station = station;
    return filter;
}

std::optional<double> ResultCounts::Yield() const {
    if (Finished() == 0) return std::nullopt;
    return static_cast<double>(programmed) / static_cast<double>(Finished());
}

ResultCounts& ResultCounts::operator+=(const ResultCounts& other) {
    programmed += other.programmed;
    failed += other.failed;
    interrupted += other.interrupted;
    unfinished += other.unfinished;
    return *this;
}

std::vector<StationYield> YieldPerStation(UnitDatabase& db, const RangeFilter& filter) {
    std::vector<StationYield> rows;
    db.Query("counting the yield per station", [&](soci::session& sql) {
        const RangeBinding range(filter);
        std::string host, station;
        CountColumns counts;
        soci::statement statement(sql);
        statement.exchange(soci::into(host));
        statement.exchange(soci::into(station));
        counts.BindInto(statement);
        range.Bind(statement);
        Run(statement, std::string("SELECT host, station,") + kCountColumns + " FROM units" +
                           range.Where() + " GROUP BY host, station ORDER BY host, station");
        while (statement.fetch()) rows.push_back({host, station, counts.Counts()});
    });
    return rows;
}

std::vector<HourYield> YieldPerHour(UnitDatabase& db, const RangeFilter& filter) {
    std::vector<HourYield> rows;
    db.Query("counting the yield per hour", [&](soci::session& sql) {
        const RangeBinding range(filter);
        std::string hour;  // "2024-05-01T12"
        CountColumns counts;
        soci::statement statement(sql);
        statement.exchange(soci::into(hour));
        counts.BindInto(statement);
        range.Bind(statement);
        Run(statement, std::string("SELECT substr(start_time, 1, 13),") + kCountColumns +
                           " FROM units" + range.Where() +
                           " GROUP BY substr(start_time, 1, 13) ORDER BY 1");
        while (statement.fetch()) {
            // A start time the database holds in another form has no hour
            // to be counted in: it is left out rather than put in a wrong one.
            if (const std::optional<TimePoint> start = ParseUtc(hour + ":00")) {
                rows.push_back({*start, counts.Counts()});
            }
        }
    });
    return rows;
}

std::vector<FailureReason> FailureReasons(UnitDatabase& db, const RangeFilter& filter,
                                          std::size_t limit) {
    std::vector<FailureReason> rows;
    db.Query("ranking the failure reasons", [&](soci::session& sql) {
        const RangeBinding range(filter);
        std::string message, latest;
        long long units = 0;
        soci::statement statement(sql);
        statement.exchange(soci::into(message));
        statement.exchange(soci::into(units));
        statement.exchange(soci::into(latest));
        range.Bind(statement);
        Run(statement, "SELECT message, count(*), max(start_time) FROM units" + range.Where() +
                           " AND result = 'failed' GROUP BY message"
                           " ORDER BY 2 DESC, 3 DESC, 1 LIMIT " +
                           std::to_string(limit));
        while (statement.fetch()) {
            rows.push_back({message, units, ParseUtc(latest).value_or(TimePoint{})});
        }
    });
    return rows;
}

std::vector<UnitRow> UnitsWithSerial(UnitDatabase& db, std::int64_t serial) {
    UnitFilter filter;
    filter.serial = serial;
    filter.newestFirst = true;
    return db.ListUnits(filter);
}

}  // namespace farsend::units

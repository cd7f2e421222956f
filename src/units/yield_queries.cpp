#include "units/yield_queries.h"

#include <map>
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

RangeYield YieldOfRange(UnitDatabase& db, const RangeFilter& filter) {
    // Counted per hour and station in the database, then added up here:
    // one pass over the index that holds them in that order, where a
    // grouping by station would first sort every unit of the range.
    std::map<std::pair<std::string, std::string>, ResultCounts> stations;
    std::map<std::string, ResultCounts> hours;
    db.Query("counting the yield", [&](soci::session& sql) {
        const RangeBinding range(filter);
        // The hours the range touches, so that the index is read from the
        // first to the last of them only.
        std::string firstHour = FormatUtc(filter.from).substr(0, 13);
        std::string lastHour = FormatUtc(filter.to).substr(0, 13);
        std::string hour, host, station, result;
        soci::indicator resultInd = soci::i_null;
        long long units = 0;
        soci::statement statement(sql);
        statement.exchange(soci::into(hour));
        statement.exchange(soci::into(host));
        statement.exchange(soci::into(station));
        statement.exchange(soci::into(result, resultInd));
        statement.exchange(soci::into(units));
        range.Bind(statement);
        statement.exchange(soci::use(firstHour, "firsthour"));
        statement.exchange(soci::use(lastHour, "lasthour"));
        // Counted by result rather than summed per result: an engine adds
        // one to a group faster than it weighs four expressions a row.
        Run(statement,
            "SELECT substr(start_time, 1, 13), host, station, result, count(*) FROM units" +
                range.Where() +
                " AND substr(start_time, 1, 13) >= :firsthour"
                " AND substr(start_time, 1, 13) <= :lasthour"
                " GROUP BY substr(start_time, 1, 13), host, station, result");
        while (statement.fetch()) {
            ResultCounts counts;
            const std::optional<UnitResult> named =
                resultInd == soci::i_ok ? ParseUnitResult(result) : std::nullopt;
            if (resultInd != soci::i_ok) {
                counts.unfinished = units;
            } else if (named == UnitResult::Programmed) {
                counts.programmed = units;
            } else if (named == UnitResult::Interrupted) {
                counts.interrupted = units;
            } else {
                counts.failed = units;  // as the unit listing reads an unknown result
            }
            stations[{host, station}] += counts;
            hours[hour] += counts;
        }
    });
    RangeYield yield;
    for (const auto& [key, counts] : stations) {
        yield.stations.push_back({key.first, key.second, counts});
    }
    for (const auto& [hour, counts] : hours) {
        // A start time the database holds in another form has no hour to
        // be counted in: it is left out rather than put in a wrong one.
        if (const std::optional<TimePoint> start = ParseUtc(hour + ":00")) {
            yield.hours.push_back({*start, counts});
        }
    }
    return yield;
}

std::vector<StationYield> YieldPerStation(UnitDatabase& db, const RangeFilter& filter) {
    return YieldOfRange(db, filter).stations;
}

std::vector<HourYield> YieldPerHour(UnitDatabase& db, const RangeFilter& filter) {
    return YieldOfRange(db, filter).hours;
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

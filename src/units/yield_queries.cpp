#include "units/yield_queries.h"

#include <chrono>
#include <map>
#include <utility>

#include "units/soci.h"
#include "units/unit_counts.h"

namespace farsend::units {
namespace {

using StationCounts = std::map<std::pair<std::string, std::string>, ResultCounts>;
using HourCounts = std::map<std::string, ResultCounts>;

// A range's bounds as the text the database holds, which sorts as time
// does, and the whole hours within it: those are read from the counts, the
// parts of an hour at either end from the units themselves.
struct RangeSplit {
    std::string from, to;
    std::string wholeFrom, wholeTo;  // "" when the range holds no whole hour

    RangeSplit(const RangeFilter& filter, bool counted)
        : from(FormatUtc(filter.from)), to(FormatUtc(filter.to)) {
        using std::chrono::hours;
        // In whole seconds, as the text compares.
        const TimePoint first = ParseUtc(from).value_or(filter.from);
        const TimePoint last = ParseUtc(to).value_or(filter.to);
        TimePoint start = std::chrono::floor<hours>(first);
        if (start < first) start += hours(1);
        const TimePoint end = std::chrono::floor<hours>(last);
        if (counted && start < end) {
            wholeFrom = FormatUtc(start);
            wholeTo = FormatUtc(end);
        }
    }
    bool Whole() const { return !wholeFrom.empty(); }
};

// The WHERE clause of the units started in [from, to) (texts), of the
// filter's host and station, its values bound as parameters.
class RangeBinding {
public:
    RangeBinding(const RangeFilter& filter, std::string from, std::string to)
        : from_(std::move(from)), to_(std::move(to)), filter_(filter) {}

    std::string Where() const {
        std::string text = " WHERE start_time >= :from AND start_time < :to";
        return text + HostAndStation();
    }
    // `tag` tells apart the names of a second use in one statement.
    std::string HostAndStation(const std::string& tag = "") const {
        std::string text;
        if (filter_.host) text += " AND host = :host" + tag;
        if (filter_.station) text += " AND station = :station" + tag;
        return text;
    }
    void Bind(soci::statement& statement) const {
        statement.exchange(soci::use(from_, "from"));
        statement.exchange(soci::use(to_, "to"));
        BindHostAndStation(statement);
    }
    void BindHostAndStation(soci::statement& statement, const std::string& tag = "") const {
        if (filter_.host) statement.exchange(soci::use(*filter_.host, "host" + tag));
        if (filter_.station) statement.exchange(soci::use(*filter_.station, "station" + tag));
    }

private:
    std::string from_, to_;
    const RangeFilter& filter_;
};

// Prepares `text` on `statement` whose results and parameters are bound,
// runs it and calls `each` with every row in the bound results. The first
// row comes with the execution: executed without it and then fetched,
// SOCI's SQLite backend gave a grouping over a subquery counted twice.
template <typename Each>
void Run(soci::statement& statement, const std::string& text, Each&& each) {
    statement.alloc();
    statement.prepare(text);
    statement.define_and_bind();
    if (!statement.execute(true)) return;
    do {
        each();
    } while (statement.fetch());
}

// `units` of one result, as the unit listing reads a result: none is a unit
// still in hand (the counts say ""), an unknown one a failure.
ResultCounts CountsOf(bool finished, const std::string& result, long long units) {
    ResultCounts counts;
    const std::optional<UnitResult> named = finished ? ParseUnitResult(result) : std::nullopt;
    if (!finished) {
        counts.unfinished = units;
    } else if (named == UnitResult::Programmed) {
        counts.programmed = units;
    } else if (named == UnitResult::Interrupted) {
        counts.interrupted = units;
    } else {
        counts.failed = units;
    }
    return counts;
}

// Counts the units started in [from, to) per hour and station, adding them
// to `stations` and `hours`: one pass over the index that holds them in
// that order, where a grouping by station would first sort every unit.
void CountUnits(soci::session& sql, const RangeFilter& filter, const std::string& from,
                const std::string& to, StationCounts& stations, HourCounts& hours) {
    if (from >= to) return;
    const RangeBinding range(filter, from, to);
    // The hours the range touches, so that the index is read from the
    // first to the last of them only.
    std::string firstHour = from.substr(0, 13);
    std::string lastHour = to.substr(0, 13);
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
            " GROUP BY substr(start_time, 1, 13), host, station, result",
        [&] {
            const ResultCounts counts = CountsOf(resultInd == soci::i_ok, result, units);
            stations[{host, station}] += counts;
            hours[hour] += counts;
        });
}

// Adds the counts of the whole hours of `split` to `stations` and `hours`.
void ReadCounts(soci::session& sql, const RangeFilter& filter, const RangeSplit& split,
                StationCounts& stations, HourCounts& hours) {
    const RangeBinding range(filter, "", "");
    std::string firstHour = split.wholeFrom.substr(0, 13);
    std::string endHour = split.wholeTo.substr(0, 13);
    std::string hour, host, station, result;
    long long units = 0;
    soci::statement statement(sql);
    statement.exchange(soci::into(hour));
    statement.exchange(soci::into(host));
    statement.exchange(soci::into(station));
    statement.exchange(soci::into(result));
    statement.exchange(soci::into(units));
    statement.exchange(soci::use(firstHour, "firsthour"));
    statement.exchange(soci::use(endHour, "endhour"));
    range.BindHostAndStation(statement);
    Run(statement,
        "SELECT hour, host, station, result, units FROM unit_counts"
        " WHERE hour >= :firsthour AND hour < :endhour AND units <> 0" +
            range.HostAndStation(),
        [&] {
            const ResultCounts counts = CountsOf(!result.empty(), result, units);
            stations[{host, station}] += counts;
            hours[hour] += counts;
        });
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
    // Counted per hour and station in the database, then added up here.
    StationCounts stations;
    HourCounts hours;
    db.Query("counting the yield", [&](soci::session& sql) {
        // A database not yet brought forward (opened read-only) has no
        // counts: its units are counted instead.
        const RangeSplit split(filter, db.schemaVersion() >= kCountedSchemaVersion);
        if (!split.Whole()) return CountUnits(sql, filter, split.from, split.to, stations, hours);
        CountUnits(sql, filter, split.from, split.wholeFrom, stations, hours);
        ReadCounts(sql, filter, split, stations, hours);
        CountUnits(sql, filter, split.wholeTo, split.to, stations, hours);
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
        const RangeSplit split(filter, db.schemaVersion() >= kCountedSchemaVersion);
        std::string message, latest;
        long long units = 0;
        soci::statement statement(sql);
        statement.exchange(soci::into(message));
        statement.exchange(soci::into(units));
        statement.exchange(soci::into(latest));
        const std::string order = " ORDER BY 2 DESC, 3 DESC, 1 LIMIT " + std::to_string(limit);
        auto each = [&] {
            rows.push_back({message, units, ParseUtc(latest).value_or(TimePoint{})});
        };
        if (!split.Whole()) {
            const RangeBinding range(filter, split.from, split.to);
            range.Bind(statement);
            Run(statement,
                "SELECT message, count(*), max(start_time) FROM units" + range.Where() +
                    " AND result = 'failed' GROUP BY message" + order,
                each);
        } else {
            // The whole hours' counts and the units of the parts at either
            // end, ranked together by the database, as it ranks the units.
            const RangeBinding range(filter, "", "");
            std::string firstHour = split.wholeFrom.substr(0, 13);
            std::string endHour = split.wholeTo.substr(0, 13);
            std::string from = split.from, wholeFrom = split.wholeFrom, wholeTo = split.wholeTo,
                        to = split.to;
            statement.exchange(soci::use(firstHour, "firsthour"));
            statement.exchange(soci::use(endHour, "endhour"));
            statement.exchange(soci::use(from, "from"));
            statement.exchange(soci::use(wholeFrom, "wholefrom"));
            statement.exchange(soci::use(wholeTo, "wholeto"));
            statement.exchange(soci::use(to, "to"));
            range.BindHostAndStation(statement);
            range.BindHostAndStation(statement, "2");
            range.BindHostAndStation(statement, "3");
            Run(statement,
                "SELECT message, CAST(sum(units) AS BIGINT), max(latest) FROM ("
                " SELECT message, units, latest FROM unit_counts"
                " WHERE hour >= :firsthour AND hour < :endhour AND result = 'failed'"
                " AND units <> 0" +
                    range.HostAndStation() +
                    " UNION ALL SELECT message, 1, start_time FROM units"
                    " WHERE start_time >= :from AND start_time < :wholefrom"
                    " AND result = 'failed'" +
                    range.HostAndStation("2") +
                    " UNION ALL SELECT message, 1, start_time FROM units"
                    " WHERE start_time >= :wholeto AND start_time < :to"
                    " AND result = 'failed'" +
                    range.HostAndStation("3") + ") AS failures GROUP BY message" + order,
                each);
        }
    });
    return rows;
}

void RecountUnits(UnitDatabase& db) {
    db.Run("counting the units", true,
           [](soci::session& sql, Engine) { detail::RecountUnits(sql); });
}

std::vector<UnitRow> UnitsWithSerial(UnitDatabase& db, std::int64_t serial) {
    UnitFilter filter;
    filter.serial = serial;
    filter.newestFirst = true;
    return db.ListUnits(filter);
}

}  // namespace farsend::units

// What a supervisor asks of the unit database: how many units each station
// passed and failed in a span of time, hour by hour, and why units failed.
// Times are UTC throughout, as the database stores them; a viewer shows
// them in its own time zone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "units/unit_database.h"

namespace farsend::units {

// The units started in [from, to), of one host or station when given.
struct RangeFilter {
    TimePoint from;
    TimePoint to;
    std::optional<std::string> host;
    std::optional<std::string> station;

    // The same units as a UnitFilter, for listing their rows.
    UnitFilter Units() const;
};

struct ResultCounts {
    std::int64_t programmed = 0;
    std::int64_t failed = 0;
    std::int64_t interrupted = 0;
    std::int64_t unfinished = 0;  // still in hand, or a station that stopped

    std::int64_t Finished() const { return programmed + failed + interrupted; }
    std::int64_t Total() const { return Finished() + unfinished; }
    // Programmed of those finished, 0..1; none when none finished. A unit
    // still in hand counts neither way.
    std::optional<double> Yield() const;
    ResultCounts& operator+=(const ResultCounts& other);
};

struct StationYield {
    std::string host;
    std::string station;
    ResultCounts counts;
};

struct HourYield {
    TimePoint hour;  // the start of the hour, UTC
    ResultCounts counts;
};

struct FailureReason {
    std::string message;
    std::int64_t units = 0;
    TimePoint latest;  // when the last unit that failed so started
};

struct RangeYield {
    std::vector<StationYield> stations;  // per host and station, ordered by them
    std::vector<HourYield> hours;        // per hour of the units' start, oldest
                                         // first; hours without units left out
};

// Both from one pass over the range.
RangeYield YieldOfRange(UnitDatabase& db, const RangeFilter& filter);
std::vector<StationYield> YieldPerStation(UnitDatabase& db, const RangeFilter& filter);
std::vector<HourYield> YieldPerHour(UnitDatabase& db, const RangeFilter& filter);
// The messages of failed units, the commonest first (ties: the latest
// first), at most `limit` of them.
std::vector<FailureReason> FailureReasons(UnitDatabase& db, const RangeFilter& filter,
                                          std::size_t limit);
// Empties the counts the summary reads and counts every unit afresh, in one
// transaction: for rows written around this program, as a benchmark makes
// them.
void RecountUnits(UnitDatabase& db);
// Every row that carries the serial number (a number returned to its pool
// and issued again appears twice), the newest first.
std::vector<UnitRow> UnitsWithSerial(UnitDatabase& db, std::int64_t serial);

}  // namespace farsend::units

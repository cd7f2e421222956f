// The units counted per hour of their start, host, station, result and
// failure reason (table unit_counts), kept in step with the units in the
// transaction that writes them, so that the dashboard's summary of a month
// reads some thousand counts instead of a million units. Not for use outside
// src/units.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "units/soci.h"

namespace farsend::units::detail {

// What a count is kept under. A unit still in hand has result "", and only
// a failed unit keeps its message (the reasons are ranked among failures
// alone). The message is keyed by a hash of it: a reason may be longer than
// an index entry may be.
struct CountKey {
    std::string hour;  // the first 13 characters of the start time, "2024-05-01T10"
    std::string host, station, result;
    long long messageKey = 0;

    bool operator<(const CountKey& other) const {
        return std::tie(hour, host, station, result, messageKey) <
               std::tie(other.hour, other.host, other.station, other.result, other.messageKey);
    }
};

// One unit as it is counted: the columns of its row that decide where.
struct CountedUnit {
    std::string startTime, host, station;
    std::optional<std::string> result;  // none while in hand
    std::string message;
};

// The changes one transaction makes to the counts, written together before
// it commits: in one order of the keys for every writer, so that two PCs
// writing at once wait for each other instead of deadlocking.
class CountChanges {
public:
    void Add(const CountedUnit& unit) { Change(unit, +1); }
    void Remove(const CountedUnit& unit) { Change(unit, -1); }
    // Upserts the counts (count = count + change) and sets again the latest
    // start of a failure reason that lost a unit.
    void Apply(soci::session& sql);

private:
    struct Delta {
        std::string message, latest;
        long long units = 0;
        bool lost = false;
    };
    void Change(const CountedUnit& unit, int units);
    std::map<CountKey, Delta> changes_;
};

void CreateUnitCounts(soci::session& sql);
// Empties the counts and counts every unit afresh, inside the caller's
// transaction.
void RecountUnits(soci::session& sql);

}  // namespace farsend::units::detail

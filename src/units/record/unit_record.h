// A unit's record: what a station knows of one target it handled. The same
// record is the result a command prints (--json), the line --report appends,
// a line of the spool and a row of the unit database; unit_json.h is its one
// JSON codec.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "units/record/unit_outcome.h"

namespace farsend::units {

using TimePoint = std::chrono::system_clock::time_point;

// What is known when a unit is taken in hand.
struct UnitStart {
    TimePoint start;
    std::string host;          // the PC the station is on
    std::string station;       // where it is programmed: the bridge's location
    std::string bridgeSerial;  // the bridge's USB serial number
    std::string file;          // the firmware file
    std::string sha256;        // of the file, hexadecimal
    bool simulated = false;    // a simulated target, not a real unit
    // The production job the unit is programmed under (--job; "" for none):
    // its name and the SHA-256 of its file.
    std::string jobName;
    std::string jobSha256;
    // The job's unit limit. Not part of any record: with it, StartUnit counts
    // the unit against the job in the same transaction that inserts the row.
    std::optional<std::int64_t> jobUnitLimit;
};

// What is known when the unit is done with.
struct UnitFinish {
    TimePoint end;
    std::string variant;  // what the target reported ("" when not asked)
    std::string version;
    std::uint64_t blocks = 0;
    std::uint64_t bytes = 0;
    double seconds = 0.0;
    // What the database keeps; always ResultOf(*outcome) when there is one.
    UnitResult result = UnitResult::Failed;
    // The station's own word; none in a row read back from the database,
    // which keeps only the result.
    std::optional<UnitOutcome> outcome;
    // The front end's exit status for this outcome, kept as a number for
    // the scripts that read records.
    int exitStatus = 0;
    std::string message;  // what went wrong, or "" on success

    void SetOutcome(UnitOutcome ended) {
        outcome = ended;
        result = ResultOf(ended);
    }
};

struct UnitRecord {
    std::int64_t id = 0;  // the database's row; 0 in a spooled or printed record
    std::string recordId;
    std::string command;     // "program", "watch", "identify", ...
    std::uint64_t unit = 0;  // its number in this run, over all stations (0: none)
    UnitStart start;
    std::optional<UnitFinish> finish;  // none while the unit is in hand
    std::string pool;                  // "" when no number was taken
    std::optional<std::int64_t> serial;
    bool numberReturned = false;  // the serial went back to its pool unused
};

// The database's rows are unit records.
using UnitRow = UnitRecord;

}  // namespace farsend::units

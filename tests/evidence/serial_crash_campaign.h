// The crash campaign of serialized runs: `farsend watch --serial ...
// --serial-pool ... --db FILE --sim-flash-dir DIR` on the real clock, killed
// with SIGKILL after a seeded random time and started again, over and over,
// on the same database and the same flash folder. Every simulated target of
// every process leaves its flash file there, whole, whenever the kill lands;
// at the end the serial judge reads the database and every flash.
//
// The file swap: in one run of `swapOneIn` (drawn from the seed), the
// firmware file is replaced by a 16-byte image that does not reach the
// number's place, between `earliestSwap` and `latestSwap` (or the kill), and put
// back before the next run. A run programs every unit from the image it read
// at its start: a unit given the other image would hold no number, which the
// judge finds. A run that read the file after the swap refuses it before any
// target is touched (status 4), as it should.
//
// Some other runs have their database deleted mid-run (the file moved away, and
// put back once the run has ended): such a run spools what it finishes and
// takes no number after it finds out, so it may end with status 9 when its
// stations refuse their next units.
//
// On top of the judge's findings, a run that ends on its own before its kill
// (or on another signal) is a defect, and so is a pool whose count of issued
// numbers differs from the numbers the rows kept.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "evidence/serial_judge.h"

namespace farsend::evidence {

struct CrashCampaignOptions {
    std::string farsend;  // the program under test
    uint32_t kills = 200;
    uint64_t seed = 1;
    std::string directory;   // "" : a fresh one under the temporary directory
    bool keep = false;       // keep the directory (database, flashes, logs)
    uint32_t bridges = 2;    // stations per process
    uint32_t baud = 230400;  // the simulated line: a unit takes about half a second
    // A kill lands this long after the start, drawn evenly between the two.
    std::chrono::milliseconds earliest{0};
    std::chrono::milliseconds latest{3000};
    std::string place = "0x4010:4:le";  // --serial
    uint32_t swapOneIn = 3;             // 0: no file swaps
    // Within the first units, so that later units of the run would show
    // a wrong image if they got one.
    std::chrono::milliseconds earliestSwap{300};
    std::chrono::milliseconds latestSwap{1500};
    // 1 run in about this many has its database file moved away mid-run and
    // put back after it; 0: none.
    uint32_t deletionEvery = 5;
};

struct CrashCampaignResult {
    std::string workDirectory;            // empty: it could not be made
    std::string setupError;               // the campaign could not start
    uint32_t killed = 0;                  // runs ended by their kill
    uint32_t swaps = 0;                   // runs whose file was replaced
    uint32_t swapsTold = 0;               // of them, runs that warned of it
    uint32_t swapsBeforeRead = 0;         // of them, runs that read the other file and refused it
    uint32_t deletions = 0;               // runs with a database deletion
    uint32_t refusedAfterDeletion = 0;    // ... that ended with status 9 before their kill
    std::vector<std::string> runDefects;  // runs that ended some other way
    SerialVerdict verdict;
    std::string poolProblem;  // the pool disagrees with the rows
    bool Clean() const {
        return setupError.empty() && runDefects.empty() && verdict.ok() && poolProblem.empty();
    }
};

// `progress` hears of every run done (1 to kills).
CrashCampaignResult RunSerialCrashCampaign(const CrashCampaignOptions& options,
                                           const std::function<void(uint32_t)>& progress = {});

void PrintCrashReport(std::ostream& out, const CrashCampaignOptions& options,
                      const CrashCampaignResult& result);

}  // namespace farsend::evidence

// Which stations a run of program, watch, erase, identify or launch has:
// one per bridge the options name (or find), each with the name its lines
// and records carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/run.h"

namespace farsend::cli {

// Where a station's bridge is: a device name that its link opens alone
// (none: the first bridge found), or one of the simulated bridges.
struct StationPlan {
    std::string name;          // shown in every line and record
    std::string device;        // --device NAME or the bridge found by --all
    uint32_t simBridge = 0;    // 1..--sim-bridges; 0 without --simulate
    std::string bridgeSerial;  // the bridge's USB serial, when known
};

// The stations the options ask for. False with the exit status when one
// cannot be had (the message shown).
bool PlanStations(const CliOptions& options, Console& console, const Environment& env,
                  std::vector<StationPlan>& plans, int& status);

}  // namespace farsend::cli

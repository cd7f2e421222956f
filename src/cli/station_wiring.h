// What links one station to its bridge: the system's HID or a simulated
// bridge of its own, set up before the station is made.
#pragma once

#include <memory>
#include <string>

#include "app/station.h"
#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/run.h"
#include "cli/station_bridge.h"
#include "cli/station_plans.h"
#include "common/clock.h"
#include "common/virtual_clock.h"
#include "link/hid_platform.h"
#include "sim/simulation.h"

namespace farsend::cli {

// What a station's link reaches its bridge through, declared in the order
// in which it must be torn down backwards: the simulated bridge lives in the
// simulated time, and the station (whose link closes its handles on the
// platform) goes before all of it.
struct Wiring {
    VirtualClock simulatedTime{Millis(0)};
    link::NullHidPlatform noPlatform;
    std::unique_ptr<StationBridge> bridge;
    std::unique_ptr<sim::Simulation> simulation;
    app::StationBridge seat;

    // The time the station's link lives in.
    Clock& Time() { return seat.clock != nullptr ? *seat.clock : RealClock(); }
};

// Sets up the link of one station: nothing when it is ready, else the exit
// status (with the message already shown).
StopStatus Wire(const CliOptions& options, Console& console, const Environment& env,
                const StationPlan& plan, Wiring& wiring);

// A station's name on its diagnostic lines: among several stations, as on
// its other lines; a run on one bridge keeps its lines as they are.
std::string DiagnosticNameOf(const CliOptions& options, const StationPlan& plan);

}  // namespace farsend::cli

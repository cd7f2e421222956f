// The stations of one run side by side: each station's monitor on its own
// thread, and on the calling thread a loop that watches them all: their
// --wait deadlines on the real clock, the operator's retries, a signal or
// --count that ends the run, and (watch --all) bridges plugged in later.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/line_page.h"
#include "cli/run.h"
#include "cli/station_board.h"
#include "cli/station_plans.h"
#include "cli/station_session.h"
#include "cli/station_wiring.h"

namespace farsend::cli {

// One station of the run: its link, its session and, among several, its
// own prefixed output.
struct StationRun {
    std::unique_ptr<std::ostream> out;
    std::unique_ptr<std::ostream> err;
    std::unique_ptr<Console> console;
    Wiring wiring;
    std::unique_ptr<Session> session;
    bool stopped = false;
    bool paused = false;  // stopped from the line page, until it continues
};

// Starts every station's monitor and returns once all have stopped (and,
// watching for new bridges, the run is over). `say` tells a message of the
// run as a whole; `addStation` makes the station of a newly found bridge
// (nothing when it did). With a line page, the page's actions are carried
// out here, and the run ends only when the operator ends it.
void SuperviseStations(const CliOptions& options, const Environment& env, Policy policy,
                       RunShared& shared, std::vector<std::unique_ptr<StationRun>>& stations,
                       StationBoard* board, LinePage* page,
                       const std::function<void(const std::string&)>& say,
                       const std::function<StopStatus(const StationPlan&)>& addStation);

}  // namespace farsend::cli

// The commands that talk to a target (program, watch, erase, identify,
// launch), run over the same core as the window program: each station's
// connection monitor connects and, for program and watch, validates and asks
// its session to program; the session runs the job on the monitor's thread
// and follows the station through its events (cli/station_session.h). This
// file checks the firmware once for the whole run, plans and wires the
// stations, supervises them and turns how they ended into the exit status.
#pragma once

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/run.h"

namespace farsend::cli {

int RunTargetCommand(const CliOptions& options, Console& console, const Environment& env);

}  // namespace farsend::cli

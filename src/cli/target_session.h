// The commands that talk to a target (program, watch, erase, identify,
// launch), run over the same core as the window program: the connection
// monitor connects and, for program and watch, validates and asks for the
// programming job through command 610; the main window's commands
// (app/commands.h) carry out 610, 650, 660, the erase and the launch; the
// jobs report through the progress display. This front end plays the main
// window and the shell: it prints the messages, answers the erase-all
// warning from the operator's earlier answer, and runs each job dialog as a
// job on the calling thread.
#pragma once

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/run.h"

namespace farsend::cli {

int RunTargetCommand(const CliOptions& options, Console& console, const Environment& env);

}  // namespace farsend::cli

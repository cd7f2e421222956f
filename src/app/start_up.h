// Start-up: defaults, the command line, the firmware directory, the scan of
// which variants and versions are on hand, and the choice of the firmware
// file. Runs once on the user-interface thread before anything else.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/tool_settings.h"

namespace farsend::app {

// What start-up reads from the process.
struct StartUpInputs {
    std::optional<CommandLineArgument> workingDirectory;  // nothing: unreadable
    // The arguments after the program's path; nothing: the splitter failed.
    std::optional<std::vector<CommandLineArgument>> arguments;
};

// Reads the current directory and the command line (see ReadCommandLine).
StartUpInputs ReadStartUpInputs(int argc, char** argv);

struct StartUpReport {
    // Words the claim took, in command-line order.
    std::vector<std::string> claimedWords;
    // Paths that could not be used, one message each; the front end shows
    // them as warnings.
    std::vector<std::string> warnings;
};

// The firmware directory used when the command line names none: the
// working directory's parent, written "<dir>\.." on Windows and "<dir>/.."
// elsewhere, not normalised.
std::string DefaultFirmwareDirectory(const std::string& workingDirectory);

StartUpReport StartUp(ToolSettings& settings, const StartUpInputs& inputs,
                      const WordClaim& claim = {});

}  // namespace farsend::app

// The firmware file for program and watch, and what select shows: start-up
// run as the window program runs it, with the words that the options stand
// for (directory, variant, version, "factory", file), so both front ends
// choose alike.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/start_up.h"
#include "app/tool_settings.h"
#include "cli/cli_options.h"

namespace farsend::cli {

// The start-up words for the options, in the window program's form.
std::vector<app::CommandLineArgument> StartUpWords(const CliOptions& options);

// Why the FILE or --dir given cannot be used (missing, not a file or not a
// directory); nothing when they can, or none was given.
std::optional<std::string> GivenPathProblem(const CliOptions& options);

// Runs start-up into `settings`. `workingDirectory`: as ReadWorkingDirectory
// gives it (tests pass their own).
app::StartUpReport ChooseImage(const CliOptions& options, app::ToolSettings& settings,
                               const std::optional<app::CommandLineArgument>& workingDirectory);

// "Bluetooth", "ZigBee", "any"; "1.0", "1.5", "2.0", "any".
const char* DeviceTypeName(firmware::DeviceType type);
const char* HardwareVersionName(firmware::HardwareVersion version);

}  // namespace farsend::cli

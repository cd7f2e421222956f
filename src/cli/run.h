// farsend's entry: reads the command line and runs the command.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "cli/console.h"
#include "link/hid_platform.h"

namespace farsend::cli {

// What a run takes from its process; tests hand in their own.
struct Environment {
    std::optional<app::CommandLineArgument> workingDirectory;
    // The platform for real bridges (SystemHidPlatform() in the program).
    link::HidPlatform* systemPlatform = nullptr;
};

// `words`: the arguments after the program's name. Returns the exit status.
int RunFarsend(const std::vector<std::string>& words, Console& console, const Environment& env);

}  // namespace farsend::cli

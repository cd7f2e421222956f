// farsend's entry: reads the command line and runs the command.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "cli/console.h"
#include "cli/operator_input.h"
#include "link/hid_platform.h"

namespace farsend::cli {

// What a run takes from its process; tests hand in their own.
struct Environment {
    std::optional<app::CommandLineArgument> workingDirectory;
    // The platform for real bridges (SystemHidPlatform() in the program).
    link::HidPlatform* systemPlatform = nullptr;
    // What the operator types while watch runs (StandardInputLines() in the
    // program); null: nothing is read.
    OperatorInput* operatorInput = nullptr;
};

// `words`: the arguments after the program's name. Returns the exit status.
int RunFarsend(const std::vector<std::string>& words, Console& console, const Environment& env);

}  // namespace farsend::cli

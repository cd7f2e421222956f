#include "app/command_line.h"

namespace farsend::app {

std::optional<std::vector<CommandLineArgument>> ReadCommandLine(int argc, char** argv) {
    std::vector<CommandLineArgument> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(ArgumentFromText(argv[i]));
    return arguments;
}

}  // namespace farsend::app

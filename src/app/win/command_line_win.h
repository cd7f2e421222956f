// Windows: the command line as the system splits it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace farsend::app {

// Splits a whole command line (the program's path first) with the system's
// splitter and converts every word to the ANSI code page. Nothing when the
// splitter fails.
std::optional<std::vector<CommandLineArgument>> SplitCommandLine(const std::wstring& commandLine);

}  // namespace farsend::app

// The firmware file named on the window program's command line, given the
// flash mode its name calls for, as a file chosen with Browse is. The Program
// command opens the job of the current mode with a file that is already
// chosen without looking at its name again, so without this step the word
// "factory" with an application image would erase the target's bootloader
// and write no bootloader back, and a factory image without the word would
// be written where the application belongs.
#pragma once

#include <optional>
#include <string>

#include "app/tool_settings.h"

namespace farsend::app {

// Run once, after start-up has read the command line and before the window
// opens. Sets the flash mode from the factory marker of the command-line file
// when that file is the one chosen. Returns a warning for the operator when
// the command line asked for factory mode and the file is no factory image;
// a factory image switches to factory mode without one, as Browse does.
std::optional<std::string> MatchFlashModeToCommandLineFile(ToolSettings& settings);

}  // namespace farsend::app

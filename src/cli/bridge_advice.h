// What to tell the user when no bridge could be opened: the identifiers the
// tool looks for and, where the system can tell, why a bridge that is there
// could not be used (on Linux: the udev rule).
#pragma once

#include <string>

namespace farsend::cli {

// One or more lines, each ending in '\n', without the "farsend: " prefix.
std::string NoBridgeAdvice();

// "vendor 0x1209, product 0x0001".
std::string BridgeIdText();

}  // namespace farsend::cli

// The name of the PC a station runs on, so that the records of several PCs
// on one line, whose bridges sit at the same USB locations, tell them apart.
#pragma once

#include <string>

namespace farsend {

// The system's host name; "" when it cannot be had.
std::string ThisHostName();

}  // namespace farsend

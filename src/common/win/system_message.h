// The system's own words for a Win32 error code, in English, without the
// trailing full stop and line end, so that they read inside a sentence.
#pragma once

#include <string>

namespace farsend {

std::string SystemMessage(unsigned long code);

}  // namespace farsend

// The settings after start-up as the terminal shows them: firmware directory,
// what was found, what was chosen, and how the window would look.
#pragma once

#include <string>

#include "app/tool_settings.h"

namespace farsend::cli {

std::string StartUpSummary(app::ToolSettings& settings);

}  // namespace farsend::cli

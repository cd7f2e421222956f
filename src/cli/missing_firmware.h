// What program, watch and select say when no firmware file was chosen: where
// they looked and how to point them elsewhere. Someone who starts farsend
// inside the firmware folder finds nothing in the default folder (its
// parent); the message names that folder and offers --dir . then.
#pragma once

#include <string>

#include "app/tool_settings.h"

namespace farsend::cli {

// "ZigBee, hardware 2.0, application image": what the settings ask for.
std::string RequestText(const app::ToolSettings& settings);

// The message for settings whose firmware folder offers no file for their
// request; `given`: whether --dir named the folder (else it is the default,
// the parent of the current folder).
std::string MissingFirmwareMessage(const app::ToolSettings& settings, bool given);

}  // namespace farsend::cli

// The Open dialog for a firmware file ("Open Hex File", "Hex Files" *.hex).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "app/shell_port.h"

namespace farsend::app::win32 {

// Shows the Open dialog owned by `owner`, starting in the request's
// directory with `initialFile` filled in. Returns the chosen path (ANSI code
// page), or nothing when cancelled.
std::optional<std::string> ChooseFile(HWND owner, const OpenFileRequest& request,
                                      const std::string& initialFile = "");

}  // namespace farsend::app::win32

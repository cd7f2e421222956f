// Help: the WinHelp file "FLASH_HELP.hlp" through the system's help viewer,
// and, where there is no viewer or no such file (current Windows has no
// WinHelp viewer; we ship none), the same help as the page FLASH_HELP.html
// beside the program, opened with the system's browser.
#pragma once

#include <windows.h>

#include <string>

namespace farsend::app::win32 {

enum class HelpTopic { Contents, About };

// What the last help request did (for the test hook).
struct HelpShown {
    bool viaWinHelp = false;
    std::string page;  // the page opened ("" when WinHelp showed the help)
    bool opened = false;
};

HelpShown ShowHelp(HWND owner, HelpTopic topic);

// The help page's path beside the program ("" when the path cannot be read).
std::string HelpPagePath();

}  // namespace farsend::app::win32

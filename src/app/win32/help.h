// Help: the WinHelp file "FLASH_HELP.hlp" through the system's help viewer,
// and, where there is no viewer or no such file (current Windows has no
// WinHelp viewer; we ship none), the same help as the page FLASH_HELP.html
// beside the program, opened with the system's browser. Where no browser is
// registered at all, a message box says where the page is, so that F1 never
// does nothing.
#pragma once

#include <windows.h>

#include <string>

namespace farsend::app::win32 {

enum class HelpTopic { Contents, About };

// How the help was brought up.
enum class HelpWay {
    None,
    WinHelp,     // the help viewer with FLASH_HELP.hlp
    Page,        // the page, by the system's association for it
    HtmlClass,   // the page, by the handler of the "htmlfile" class
    PlaceNamed,  // no browser: a message box names the page's place
};

// What the last help request did (for the test hook).
struct HelpShown {
    HelpWay way = HelpWay::None;
    std::string page;  // the page or its URL ("" when WinHelp showed the help)
    bool opened = false;
};

HelpShown ShowHelp(HWND owner, HelpTopic topic);

// The help page's path beside the program ("" when the path cannot be read).
std::string HelpPagePath();

}  // namespace farsend::app::win32

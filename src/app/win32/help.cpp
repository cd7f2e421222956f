#include "app/win32/help.h"

#include <shellapi.h>

namespace farsend::app::win32 {

namespace {

constexpr const char* kHelpFile = "FLASH_HELP.hlp";
constexpr const char* kHelpPage = "FLASH_HELP.html";
constexpr const char* kAboutKeyword = "About...";

std::string ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    std::string directory(path, length);
    const size_t slash = directory.find_last_of("\\/");
    return slash == std::string::npos ? "" : directory.substr(0, slash);
}

// The viewer searches the program's and the current directory and the path
// for a bare name; a WinHelp viewer that does not find the file shows an
// error of its own and still reports success, so look first.
bool HelpFileFound() {
    char found[MAX_PATH];
    const std::string programDirectory = ProgramDirectory();
    if (!programDirectory.empty() &&
        SearchPathA(programDirectory.c_str(), kHelpFile, nullptr, MAX_PATH, found, nullptr) > 0) {
        return true;
    }
    return SearchPathA(nullptr, kHelpFile, nullptr, MAX_PATH, found, nullptr) > 0;
}

// A file URL, so that the anchor of the About section survives: a plain path
// with "#about" would name a file that does not exist.
std::string FileUrl(const std::string& path) {
    std::string url = "file:///";
    for (char c : path) {
        if (c == '\\') {
            url += '/';
        } else if (c == ' ') {
            url += "%20";
        } else if (c == '#') {
            url += "%23";
        } else {
            url += c;
        }
    }
    return url;
}

}  // namespace

std::string HelpPagePath() {
    const std::string directory = ProgramDirectory();
    return directory.empty() ? "" : directory + "\\" + kHelpPage;
}

HelpShown ShowHelp(HWND owner, HelpTopic topic) {
    HelpShown shown;
    if (HelpFileFound()) {
        const BOOL ok =
            topic == HelpTopic::About
                ? WinHelpA(owner, kHelpFile, HELP_KEY, reinterpret_cast<ULONG_PTR>(kAboutKeyword))
                : WinHelpA(owner, kHelpFile, HELP_FORCEFILE, 0);
        if (ok) {
            shown.way = HelpWay::WinHelp;
            shown.opened = true;
            return shown;
        }
    }
    const std::string page = HelpPagePath();
    if (page.empty()) return shown;
    shown.page = topic == HelpTopic::About ? FileUrl(page) + "#about" : page;

    // The page by its own association; then by the handler of the HTML
    // class (systems where ".html" is not registered, such as a bare Wine
    // prefix, may still have it).
    SHELLEXECUTEINFOA execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_FLAG_NO_UI;
    execute.hwnd = owner;
    execute.lpVerb = "open";
    execute.lpFile = shown.page.c_str();
    execute.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExA(&execute)) {
        shown.way = HelpWay::Page;
        shown.opened = true;
        return shown;
    }
    execute.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_CLASSNAME;
    execute.lpClass = "htmlfile";
    if (ShellExecuteExA(&execute)) {
        shown.way = HelpWay::HtmlClass;
        shown.opened = true;
        return shown;
    }
    const std::string text =
        "No web browser is set up to show the help.\nOpen this page with one:\n" + page;
    MessageBoxA(owner, text.c_str(), "Farsend Flasher Help", MB_OK | MB_ICONINFORMATION);
    shown.way = HelpWay::PlaceNamed;
    shown.opened = true;
    return shown;
}

}  // namespace farsend::app::win32

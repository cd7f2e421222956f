#include "gui_driver.h"

#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace farsend::gui_test {

namespace {

constexpr const char* kStateMessageName = "FarsendFlasherTestState";
constexpr const char* kStateFileVariable = "FARSEND_TEST_STATE_FILE";

std::string Quote(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string ClassName(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

struct DialogSearch {
    DWORD processId;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM parameter) {
    auto& search = *reinterpret_cast<DialogSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search.processId && (!search.visibleOnly || IsWindowVisible(window)) &&
        ClassName(window) == "#32770") {
        search.found.push_back(window);
    }
    return TRUE;
}

std::string TempFileName(const char* stem) {
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    static int counter = 0;
    return std::string(directory) + stem + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter) + ".txt";
}

void SendKeys(const std::vector<INPUT>& inputs) {
    std::vector<INPUT> copy = inputs;
    SendInput(static_cast<UINT>(copy.size()), copy.data(), sizeof(INPUT));
}

INPUT Key(WORD virtualKey, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

}  // namespace

bool EnterTestDesktop() {
    // Under Wine a desktop with a size in this key is a virtual desktop that
    // draws window frames itself; elsewhere the key means nothing.
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const char size[] = "1024x768";
        RegSetValueExA(key, kDesktopName, 0, REG_SZ, reinterpret_cast<const BYTE*>(size),
                       sizeof(size));
        RegCloseKey(key);
    }
    HDESK desktop = CreateDesktopA(kDesktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    return desktop != nullptr && SetThreadDesktop(desktop);
}

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(20);
    }
}

std::string FlasherExe() {
    char path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("FARSEND_FLASHER_EXE", path, sizeof path);
    if (length > 0 && length < sizeof path) return path;
    return FARSEND_FLASHER_EXE;
}

std::string WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

Flasher::Flasher(const std::vector<std::string>& arguments, const std::string& workingDirectory) {
    std::string commandLine = Quote(WindowsPath(FlasherExe()));
    for (const std::string& argument : arguments) commandLine += " " + Quote(argument);

    stateFile_ = TempFileName("farsend-gui-state");
    stateMessage_ = RegisterWindowMessageA(kStateMessageName);
    SetEnvironmentVariableA(kStateFileVariable, stateFile_.c_str());

    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    std::string desktop = kDesktopName;
    startup.lpDesktop = desktop.data();
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                        &process_)) {
        process_ = {};
        return;
    }
    WaitFor([this] {
        FindMainWindow();
        return mainWindow_ != nullptr;
    });
}

Flasher::~Flasher() {
    if (process_.hProcess != nullptr) {
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT && mainWindow_ != nullptr) {
            PostMessageA(mainWindow_, WM_COMMAND, 615, 0);
        }
        if (WaitForSingleObject(process_.hProcess, 10000) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    DeleteFileA(stateFile_.c_str());
}

void Flasher::FindMainWindow() {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "gp6fpt", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process_.dwProcessId && IsWindowVisible(window)) {
            mainWindow_ = window;
            return;
        }
    }
}

State Flasher::ReadState() {
    State state;
    DeleteFileA(stateFile_.c_str());
    DWORD_PTR result = 0;
    if (mainWindow_ == nullptr ||
        !SendMessageTimeoutA(mainWindow_, stateMessage_, 0, 0, SMTO_NORMAL, 10000, &result)) {
        return state;
    }
    std::ifstream file(stateFile_, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) state[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return state;
}

bool Flasher::WaitForState(const std::string& name, const std::string& value, DWORD timeoutMs) {
    return WaitFor([&] { return ReadState()[name] == value; }, timeoutMs);
}

void Flasher::PostCommand(int command) {
    PostMessageA(mainWindow_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void Flasher::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageA(mainWindow_, message, wParam, lParam);
}

bool Flasher::PressControlKey(char key) {
    SetForegroundWindow(mainWindow_);
    if (!WaitFor([this] { return GetForegroundWindow() == mainWindow_; }, 5000)) return false;
    const WORD virtualKey = static_cast<WORD>(LOBYTE(VkKeyScanA(key)));
    SendKeys({Key(VK_CONTROL, false), Key(virtualKey, false), Key(virtualKey, true),
              Key(VK_CONTROL, true)});
    return true;
}

bool Flasher::PressKey(WORD virtualKey) {
    SetForegroundWindow(mainWindow_);
    if (!WaitFor([this] { return GetForegroundWindow() == mainWindow_; }, 5000)) return false;
    SendKeys({Key(virtualKey, false), Key(virtualKey, true)});
    return true;
}

HWND Flasher::FindDialog(const std::string& caption) {
    DialogSearch search{process_.dwProcessId, true, {}};
    EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&search));
    for (HWND window : search.found) {
        if (WindowText(window) == caption) return window;
    }
    return nullptr;
}

std::vector<std::string> Flasher::DialogCaptions() {
    DialogSearch search{process_.dwProcessId, false, {}};
    EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&search));
    std::vector<std::string> captions;
    for (HWND window : search.found) captions.push_back(WindowText(window));
    return captions;
}

HWND Flasher::WaitForDialog(const std::string& caption, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitFor([&] { return (found = FindDialog(caption)) != nullptr; }, timeoutMs);
    return found;
}

bool Flasher::WaitUntilGone(HWND window, DWORD timeoutMs) {
    return WaitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

long Flasher::WaitForExit(DWORD timeoutMs) {
    if (process_.hProcess == nullptr) return -1;
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<long>(code);
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    // WM_GETTEXT is carried between processes; GetWindowText would not ask
    // a control of another process.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                        SMTO_NORMAL, 5000, nullptr);
    return text;
}

std::string MessageBoxText(HWND box) {
    return ControlText(box, 0xFFFF);
}

std::string ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control == nullptr ? std::string("<no control>") : WindowText(control);
}

void Click(HWND dialog, int id) {
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

bool IsChecked(HWND dialog, int id) {
    return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool IsEnabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

void ChooseListEntry(HWND dialog, int id, int position) {
    HWND list = GetDlgItem(dialog, id);
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELENDOK), reinterpret_cast<LPARAM>(list));
}

std::vector<std::string> ListEntries(HWND dialog, int id) {
    HWND list = GetDlgItem(dialog, id);
    const auto count = static_cast<int>(SendMessageA(list, CB_GETCOUNT, 0, 0));
    std::vector<std::string> entries;
    for (int i = 0; i < count; ++i) {
        // Between processes the entry comes in the list's own (wide) form.
        wchar_t text[256] = {};
        SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        char narrow[512] = {};
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
        entries.emplace_back(narrow);
    }
    return entries;
}

HWND FindProgressBar(HWND dialog, const std::string& text) {
    HWND bar = nullptr;
    while ((bar = FindWindowExA(dialog, bar, PROGRESS_CLASSA, nullptr)) != nullptr) {
        if (WindowText(bar) == text) return bar;
    }
    return nullptr;
}

int ProgressPosition(HWND bar) {
    return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
}

int ProgressHigh(HWND bar) {
    return static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
}

RECT ClientRectOnScreen(HWND window) {
    RECT rect{};
    GetClientRect(window, &rect);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT WindowRectOnScreen(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

bool Screenshot(const std::string& pngPath) {
    char display[64] = {};
    if (GetEnvironmentVariableA("DISPLAY", display, sizeof(display)) == 0) return false;
    const std::string windowsPath = WindowsPath(pngPath);
    DeleteFileA(windowsPath.c_str());
    // Wine starts a Unix program given by its Unix path, but detached: the
    // process it reports ends at once. So the shell writes the picture under
    // a temporary name and renames it when complete, and we wait for that.
    const std::string partial = pngPath + ".part.png";
    std::string commandLine = std::string("/bin/sh -c \"import -display ") + display +
                              " -window root '" + partial + "' 2>/dev/null && mv '" + partial +
                              "' '" + pngPath + "'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return WaitFor(
        [&] { return GetFileAttributesA(windowsPath.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30000);
}

}  // namespace farsend::gui_test

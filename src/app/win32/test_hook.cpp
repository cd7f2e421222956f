#include "app/win32/test_hook.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "app/win32/main_window.h"
#include "resources/resource_ids.h"

namespace farsend::app::win32 {

namespace {

std::string StateFile() {
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(kTestStateFileVariable, path, MAX_PATH);
    return (length > 0 && length < MAX_PATH) ? std::string(path, length) : std::string();
}

UINT RequestMessage() {
    static const UINT message =
        StateFile().empty() ? 0 : RegisterWindowMessageA(kTestStateMessageName);
    return message;
}

std::string StatusPartText(HWND bar, int part) {
    if (bar == nullptr) return "";
    const LRESULT length = SendMessageA(bar, SB_GETTEXTLENGTHA, static_cast<WPARAM>(part), 0);
    std::string text(static_cast<size_t>(LOWORD(length)) + 1, '\0');
    SendMessageA(bar, SB_GETTEXTA, static_cast<WPARAM>(part),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(LOWORD(length));
    return text;
}

std::string WindowText(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

// The colour of the brush the class paints the client area with.
unsigned long ClassBackground(HWND window) {
    auto brush = reinterpret_cast<HBRUSH>(GetClassLongPtrA(window, GCLP_HBRBACKGROUND));
    LOGBRUSH description{};
    if (brush == nullptr || GetObjectA(brush, sizeof(description), &description) == 0) return ~0ul;
    return description.lbColor;
}

}  // namespace

bool IsTestStateRequest(UINT message) {
    const UINT request = RequestMessage();
    return request != 0 && message == request;
}

void WriteTestState(MainWindowShell& shell) {
    const std::string path = StateFile();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    const ToolSettings& settings = shell.Settings();
    HWND window = shell.MainWindow();
    const UINT menuState = GetMenuState(GetMenu(window), CMD_AUTO_PROGRAM, MF_BYCOMMAND);
    std::fprintf(file, "title=%s\n", WindowText(window).c_str());
    std::fprintf(file, "status0=%s\n", StatusPartText(shell.StatusBar(), 0).c_str());
    std::fprintf(file, "status1=%s\n", StatusPartText(shell.StatusBar(), 1).c_str());
    std::fprintf(file, "background=%06lx\n", ClassBackground(window));
    int edges[2] = {};
    SendMessageA(shell.StatusBar(), SB_GETPARTS, 2, reinterpret_cast<LPARAM>(edges));
    RECT bar{};
    GetWindowRect(shell.StatusBar(), &bar);
    RECT client{};
    GetClientRect(window, &client);
    std::fprintf(file, "statusParts=%d,%d\n", edges[0], edges[1]);
    std::fprintf(file, "statusWidth=%ld\n", bar.right - bar.left);
    std::fprintf(file, "clientWidth=%ld\n", client.right);
    std::fprintf(file, "check622=%d\n",
                 menuState != static_cast<UINT>(-1) && (menuState & MF_CHECKED) ? 1 : 0);
    std::fprintf(file, "autoProgram=%d\n", settings.autoProgram.load() ? 1 : 0);
    std::fprintf(file, "connection=%d\n", static_cast<int>(settings.connectionState.load()));
    std::fprintf(file, "programRequest=%d\n", static_cast<int>(settings.programRequest.load()));
    std::fprintf(file, "monitors=%d\n", shell.Monitor().AliveCount());
    std::fprintf(file, "programmingBusy=%d\n", settings.programmingBusy.load() ? 1 : 0);
    std::fprintf(file, "erasingBusy=%d\n", settings.erasingBusy.load() ? 1 : 0);
    std::fprintf(file, "flashMode=%d\n", static_cast<int>(settings.flashMode.load()));
    std::fprintf(file, "deviceType=%d\n", static_cast<int>(settings.deviceType.load()));
    std::fprintf(file, "hardwareVersion=%d\n", static_cast<int>(settings.hardwareVersion.load()));
    std::fprintf(file, "firmwarePath=%s\n", settings.firmwarePath.Get().c_str());
    std::fprintf(file, "comPort=%d\n", static_cast<int>(settings.comPort.load()));
    const HelpShown& help = shell.LastHelp();
    std::fprintf(file, "helpPage=%s\n", help.page.c_str());
    std::fprintf(file, "helpOpened=%d\n", help.opened ? 1 : 0);
    std::fprintf(file, "helpWay=%d\n", static_cast<int>(help.way));
    std::fclose(file);
}

}  // namespace farsend::app::win32

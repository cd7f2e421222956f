#include "app/win32/main_window.h"

#include <commctrl.h>

#include <utility>

#include "app/command_ids.h"
#include "app/win32/job_dialogs.h"
#include "app/win32/message_box.h"
#include "app/win32/open_file_dialog.h"
#include "app/win32/setup_dialogs.h"
#include "app/win32/test_hook.h"
#include "app/window_texts.h"
#include "protocol/exchanges.h"
#include "resources/resource_ids.h"

namespace farsend::app::win32 {

// The resource script needs the command ids as macros and the portable core
// has them as constants: the two lists must never drift apart.
static_assert(CMD_PROGRAM_NOW == kCommandProgramNow);
static_assert(CMD_ERASE == kCommandEraseTarget);
static_assert(CMD_START_APPLICATION == kCommandStartApplication);
static_assert(CMD_CONNECT == kCommandConnect);
static_assert(CMD_EXIT == kCommandExit);
static_assert(CMD_SERIAL_SETUP == kCommandSerialSetup);
static_assert(CMD_PROGRAMMING_SETUP == kCommandProgrammingSetup);
static_assert(CMD_AUTO_PROGRAM == kCommandToggleAutoProgram);
static_assert(CMD_HELP == kCommandHelp);
static_assert(CMD_ABOUT == kCommandAbout);
static_assert(CMD_COMMUNICATION_FAILURE == kCommandCommunicationFailure);
static_assert(CMD_REQUEST_PROGRAM == kCommandRequestProgramming);
static_assert(CMD_PROGRAMMING_FINISHED == kCommandProgrammingFinished);
static_assert(CMD_END_PROCESS == kCommandEndProcess);
static_assert(JOB_CMD_END_DIALOG == kDialogCommandEnd);
static_assert(JOB_CMD_SHOW_BUSY == kDialogCommandNotice);
static_assert(JOB_CMD_STEP_ERASE_BAR == kDialogCommandStepErase);
static_assert(JOB_CMD_STEP_PROGRAM_BAR == kDialogCommandStepProgram);

namespace {

LRESULT CALLBACK MainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        auto* shell = static_cast<MainWindowShell*>(creation->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(shell));
        shell->View().AttachWindow(window);
    }
    auto* shell = reinterpret_cast<MainWindowShell*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (shell == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    return shell->WindowProcedure(window, message, wParam, lParam);
}

// Carries out the messages other threads are blocked sending to us.
void DeliverSentMessages() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

const char* ToolTipText(int command) {
    switch (command) {
        case CMD_PROGRAM_NOW:
            return "Program the target flash";
        case CMD_ERASE:
            return "Erases the target flash";
        case CMD_START_APPLICATION:
            return "Launch the target application";
        case CMD_CONNECT:
            return "Connect to the target";
        case CMD_HELP:
            return "Flash Programming Tool Help";
        default:
            return nullptr;
    }
}

// --- SentCommandPort ---

jobs::MessageAnswer SentCommandPort::ShowMessage(const jobs::Message& message) {
    return ShowMessageBox(shell_.MainWindow(), message);
}

void SentCommandPort::SendCommand(int command) {
    SendMessageA(shell_.MainWindow(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void SentCommandPort::RefreshConnectionText() {
    app::RefreshConnectionText(shell_.Settings());
}

// --- Win32ShellPort ---

jobs::MessageAnswer Win32ShellPort::ShowMessage(const jobs::Message& message) {
    return ShowMessageBox(shell_.MainWindow(), message);
}

std::optional<std::string> Win32ShellPort::ChooseFirmwareFile(const OpenFileRequest& request) {
    return ChooseFile(shell_.MainWindow(), request);
}

void Win32ShellPort::RunJobDialog(jobs::JobKind kind, const std::string& path) {
    shell_.jobRunning_ = true;
    win32::RunJobDialog(shell_.Instance(), shell_.MainWindow(), kind, path, shell_.jobEnvironment_,
                        shell_.port_, shell_.settings_.exitAfterProgram.load());
    shell_.jobRunning_ = false;
    if (shell_.exitAfterJob_) {
        shell_.exitAfterJob_ = false;
        PostMessageA(shell_.MainWindow(), WM_COMMAND, MAKEWPARAM(CMD_EXIT, 0), 0);
    }
}

void Win32ShellPort::EndMessageLoop(int exitCode) {
    PostQuitMessage(exitCode);
}

void Win32ShellPort::EndProcess(int exitCode) {
    shell_.EndProcess(exitCode);
}

// --- MainWindowShell ---

MainWindowShell::MainWindowShell(ToolSettings& settings, const StationBridge& bridge,
                                 std::function<void(int)> endProcess)
    : settings_(settings),
      endProcess_(std::move(endProcess)),
      port_(*this),
      shellPort_(*this),
      host_(port_),
      observer_(port_),
      station_(
          StationParts{bridge, settings, settings, host_, &shellPort_, &observer_, &settings.view}),
      jobEnvironment_(station_.JobEnvironment()) {}

MainWindowShell::~MainWindowShell() {
    if (settings_.view.load() == &view_) settings_.view.store(nullptr);
}

int MainWindowShell::OpenMainWindow(HINSTANCE instance, int showCommand) {
    instance_ = instance;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(
        LoadImageA(instance, RES_MAIN_ICON, IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                   GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageA(instance, RES_MAIN_ICON, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                   GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    windowClass.lpszMenuName = RES_MAIN_MENU;
    windowClass.lpszClassName = kMainWindowClass;
    if (!RegisterClassExA(&windowClass)) return 0;

    HWND window = CreateWindowExA(0, kMainWindowClass, "Farsend Flasher", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, kMainWindowWidth, kMainWindowHeight,
                                  nullptr, nullptr, instance, this);
    if (window == nullptr) return 0;
    settings_.view.store(&view_);

    RefreshTitle(settings_);
    accelerators_ = LoadAcceleratorsA(instance, RES_MAIN_MENU);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    CreateStatusBar(window);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    view_.SetAutoProgramChecked(settings_.autoProgram.load());
    if (settings_.connectionState.load() == ConnectionState::NeverConnected)
        station_.Monitor().Start();

    MSG message;
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) break;  // the quit message
        if (got == -1) return 0;
        if (accelerators_ != nullptr && TranslateAcceleratorA(window, accelerators_, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

HWND MainWindowShell::CreateStatusBar(HWND parent) {
    HWND bar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                               nullptr, instance_, nullptr);
    if (bar == nullptr) return nullptr;
    view_.AttachStatusBar(bar);
    RECT client;
    GetClientRect(parent, &client);
    const int half = client.right / 2;
    int edges[2] = {half, half * 2};
    SendMessageA(bar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(edges));
    RefreshConnectionText(settings_);
    RefreshFileName(settings_);
    return bar;
}

bool MainWindowShell::StopThreads(DWORD timeoutMs) {
    station_.Monitor().RequestStop();
    const DWORD start = GetTickCount();
    // The monitor may be sending to our windows (its connection text, a
    // message box owned by the main window): keep delivering while waiting.
    while (!station_.Monitor().WaitUntilStopped(Millis(10))) {
        DeliverSentMessages();
        if (GetTickCount() - start >= timeoutMs) return false;
    }
    protocol::CloseLink(station_.Exchanges());
    return true;
}

bool MainWindowShell::MonitorRunning() {
    return station_.Monitor().Running();
}

void MainWindowShell::RestartMonitor(std::function<void()> release) {
    station_.Monitor().Start(std::move(release));
}

void MainWindowShell::EndProcess(int exitCode) {
    // The link's reader is stopped before the process goes.
    protocol::CloseLink(station_.Exchanges());
    endProcess_(exitCode);
    // endProcess_ does not return; should it ever, end here all the same.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    for (;;) Sleep(INFINITE);
}

void MainWindowShell::ToggleAutoProgram() {
    const UINT state = GetMenuState(GetMenu(MainWindow()), CMD_AUTO_PROGRAM, MF_BYCOMMAND);
    const bool checked = state != static_cast<UINT>(-1) && (state & MF_CHECKED) != 0;
    SetAutoProgram(settings_, !checked);
}

void MainWindowShell::ShowHelpTopic(HelpTopic topic) {
    lastHelp_ = ShowHelp(MainWindow(), topic);
}

namespace {

// Commands that talk to the target themselves. The menu cannot give them
// while a job dialog is open, but a message can, and the link is the job's
// until it ends: Exit is carried out afterwards, the others are dropped.
bool UsesTheLinkItself(int command) {
    return command == CMD_ERASE || command == CMD_START_APPLICATION || command == CMD_CONNECT ||
           command == CMD_EXIT || command == CMD_SERIAL_SETUP;
}

}  // namespace

void MainWindowShell::OnCommand(int command) {
    if (jobRunning_ && UsesTheLinkItself(command)) {
        if (command == CMD_EXIT) exitAfterJob_ = true;
        return;
    }
    if (HandleMainWindowCommand(station_.Commands(), command)) return;
    switch (command) {
        case CMD_SERIAL_SETUP:
            OpenSerialSetup(instance_, MainWindow(), settings_, *this,
                            [this] { protocol::LaunchTargetApplication(station_.Exchanges()); });
            break;
        case CMD_PROGRAMMING_SETUP:
            OpenProgrammingSetup(instance_, MainWindow(), settings_);
            break;
        case CMD_AUTO_PROGRAM:
            ToggleAutoProgram();
            break;
        case CMD_HELP:
            ShowHelpTopic(HelpTopic::Contents);
            break;
        case CMD_ABOUT:
            ShowHelpTopic(HelpTopic::About);
            break;
        default:
            break;  // every other id is ignored
    }
}

LRESULT MainWindowShell::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_NOTIFY: {
            auto* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
            if (info != nullptr && info->hdr.code == TTN_NEEDTEXTA) {
                const auto id = static_cast<int>(info->hdr.idFrom);
                const char* text = ToolTipText(id);
                if (text != nullptr) info->lpszText = const_cast<char*>(text);
            }
            return 0;
        }
        case WM_HELP:
            ShowHelpTopic(HelpTopic::Contents);
            return 0;
        case WM_SIZE:
            if (HWND bar = StatusBar()) SendMessageA(bar, WM_SIZE, wParam, lParam);
            return 0;
        case WM_DESTROY:
            ExitApplication(station_.Commands());
            return 0;
        default:
            if (IsTestStateRequest(message)) {
                WriteTestState(*this);
                return 1;
            }
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace farsend::app::win32

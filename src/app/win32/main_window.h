// The main window of class "gp6fpt": its creation with the status bar, the
// window procedure and the message loop. The meaning of the commands lives
// in app/commands.h; this is the Win32 adapter around it: message boxes,
// the Open dialog and the modal dialogs, the monitor's and the jobs' blocking
// sends, help, and the check mark of the auto-program item.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "app/commands.h"
#include "app/main_window_port.h"
#include "app/serial_setup.h"
#include "app/shell_port.h"
#include "app/station.h"
#include "app/tool_settings.h"
#include "app/win32/help.h"
#include "app/win32/window_view.h"
#include "app/window_station.h"
#include "jobs/connection_monitor.h"
#include "jobs/job_workers.h"
#include "protocol/exchange_context.h"

namespace farsend::app::win32 {

constexpr const char* kMainWindowClass = "gp6fpt";
constexpr int kMainWindowWidth = 460;
constexpr int kMainWindowHeight = 240;

class MainWindowShell;

// How the monitor and the jobs reach the main window: blocking sends.
class SentCommandPort final : public MainWindowPort {
public:
    explicit SentCommandPort(MainWindowShell& shell) : shell_(shell) {}
    jobs::MessageAnswer ShowMessage(const jobs::Message& message) override;
    void SendCommand(int command) override;
    void RefreshConnectionText() override;

private:
    MainWindowShell& shell_;
};

// What the portable commands ask of the Win32 shell.
class Win32ShellPort final : public ShellPort {
public:
    explicit Win32ShellPort(MainWindowShell& shell) : shell_(shell) {}
    jobs::MessageAnswer ShowMessage(const jobs::Message& message) override;
    std::optional<std::string> ChooseFirmwareFile(const OpenFileRequest& request) override;
    void RunJobDialog(jobs::JobKind kind, const std::string& path) override;
    void EndMessageLoop(int exitCode) override;
    void EndProcess(int exitCode) override;

private:
    MainWindowShell& shell_;
};

// Everything the window procedure works with; one per process.
class MainWindowShell final : public PortChangeSteps {
public:
    // The window's one station reaches its bridge through `bridge`.
    // `endProcess` ends the process at once for command 680, after the
    // station's link has been closed; it must not return.
    MainWindowShell(ToolSettings& settings, const StationBridge& bridge,
                    std::function<void(int)> endProcess);
    ~MainWindowShell() override;
    MainWindowShell(const MainWindowShell&) = delete;
    MainWindowShell& operator=(const MainWindowShell&) = delete;

    ToolSettings& Settings() { return settings_; }
    protocol::ExchangeContext& Exchanges() { return station_.Exchanges(); }
    WindowView& View() { return view_; }
    jobs::ConnectionMonitorControl& Monitor() { return station_.Monitor(); }
    HINSTANCE Instance() const { return instance_; }
    HWND MainWindow() const { return view_.MainWindow(); }
    HWND StatusBar() const { return view_.StatusBar(); }

    // Registers the class, creates the window and its status bar, starts
    // the connection monitor and runs the message loop. Returns the quit
    // message's code, or 0 when the class cannot be registered.
    int OpenMainWindow(HINSTANCE instance, int showCommand);
    // Creates the status bar of `parent` with its two parts and shows the
    // connection text and the file name.
    HWND CreateStatusBar(HWND parent);

    // After the message loop: stops the monitor in an orderly way (handling
    // what it sends meanwhile) and closes the link. False when the monitor
    // did not end within `timeout`.
    bool StopThreads(DWORD timeoutMs);

    // PortChangeSteps (serial setup).
    bool MonitorRunning() override;
    void RestartMonitor(std::function<void()> release) override;

    LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Ends the process for command 680.
    [[noreturn]] void EndProcess(int exitCode);

    // The last help shown (test hook).
    const HelpShown& LastHelp() const { return lastHelp_; }

private:
    void OnCommand(int command);
    void ToggleAutoProgram();
    void ShowHelpTopic(HelpTopic topic);

    ToolSettings& settings_;
    std::function<void(int)> endProcess_;
    WindowView view_;
    SentCommandPort port_;
    Win32ShellPort shellPort_;
    MainWindowHost host_;
    WindowStationObserver observer_;
    Station station_;
    jobs::JobEnvironment jobEnvironment_;
    HINSTANCE instance_ = nullptr;
    HACCEL accelerators_ = nullptr;
    // A job dialog is open (its worker uses the link), and an Exit that came
    // meanwhile waits for it to end.
    bool jobRunning_ = false;
    bool exitAfterJob_ = false;
    HelpShown lastHelp_;
    friend class Win32ShellPort;
};

// The tool-tip text of a command id (610, 612, 613, 614, 630), or null.
const char* ToolTipText(int command);

}  // namespace farsend::app::win32

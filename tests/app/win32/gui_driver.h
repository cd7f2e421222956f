// Drives farsend-flasher.exe from outside, as an operator would: starts it
// on a desktop of its own, finds its main window (class "gp6fpt"), its
// dialogs and message boxes (class "#32770"), reads their texts, presses
// their buttons, posts commands and keys, and reads what the program's test
// hook reports (title, both status-bar parts, class background, monitor).
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace farsend::gui_test {

// The desktop the program and the driver share. Under Wine it is a virtual
// desktop of 1024x768, so windows get frames and captions in screenshots.
constexpr const char* kDesktopName = "farsend-gui";

// Makes the desktop (once per process) and moves the calling thread to it.
// Call before the thread creates any window.
bool EnterTestDesktop();

// Polls `done` every 20 ms until it is true or `timeoutMs` has passed.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 20000);

// Unix path <-> what Windows programs under Wine see (drive Z:).
std::string WindowsPath(const std::string& unixPath);

// The program under test (a Unix path): $FARSEND_FLASHER_EXE when set, so
// that the same tests can drive a copy unpacked from the release ZIP;
// otherwise the one this build made.
std::string FlasherExe();

using State = std::map<std::string, std::string>;

class Flasher {
public:
    // Starts the program with `arguments` (quoted as needed) and waits for
    // its main window. `workingDirectory` empty: the driver's.
    explicit Flasher(const std::vector<std::string>& arguments,
                     const std::string& workingDirectory = "");
    // Ends a program still running (Exit, then by force).
    ~Flasher();
    Flasher(const Flasher&) = delete;
    Flasher& operator=(const Flasher&) = delete;

    bool Started() const { return mainWindow_ != nullptr; }
    HWND MainWindow() const { return mainWindow_; }
    DWORD ProcessId() const { return process_.dwProcessId; }

    // What the test hook reports now.
    State ReadState();
    // Waits until the hook reports `value` for `name`.
    bool WaitForState(const std::string& name, const std::string& value, DWORD timeoutMs = 20000);

    // WM_COMMAND with `command` in the low word, posted (a modal dialog may
    // be about to open).
    void PostCommand(int command);
    void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Key strokes into the main window: Ctrl+`key`, or one virtual key.
    bool PressControlKey(char key);
    bool PressKey(WORD virtualKey);

    // A visible top-level dialog or message box of the program with this
    // caption; null when none appears within `timeoutMs`.
    HWND WaitForDialog(const std::string& caption, DWORD timeoutMs = 20000);
    // Whether one is shown now.
    HWND FindDialog(const std::string& caption);
    // The caption of every top-level dialog the program has, shown or not yet.
    std::vector<std::string> DialogCaptions();
    bool WaitUntilGone(HWND window, DWORD timeoutMs = 20000);

    // The exit code, once the process has ended within `timeoutMs`; -1 if not.
    long WaitForExit(DWORD timeoutMs);

private:
    void FindMainWindow();

    PROCESS_INFORMATION process_{};
    HWND mainWindow_ = nullptr;
    std::string stateFile_;
    UINT stateMessage_ = 0;
};

// The text of a message box (its static control 0xFFFF).
std::string MessageBoxText(HWND box);
std::string ControlText(HWND dialog, int id);
std::string WindowText(HWND window);
// Presses a button of a dialog (posted BM_CLICK, so that a dialog that
// opens another modal one does not block the driver).
void Click(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
// Chooses the entry at `position` of a drop-down list and tells the dialog,
// as a confirmed selection does.
void ChooseListEntry(HWND dialog, int id, int position);
std::vector<std::string> ListEntries(HWND dialog, int id);
// A progress bar of a job dialog, by its window text.
HWND FindProgressBar(HWND dialog, const std::string& text);
int ProgressPosition(HWND bar);
int ProgressHigh(HWND bar);
// The client rectangle in screen coordinates, and a child's in the same.
RECT ClientRectOnScreen(HWND window);
RECT WindowRectOnScreen(HWND window);

// Writes a picture of the X screen to `pngPath` (a Unix path) with
// ImageMagick's import. False when that fails (no X display, no import).
bool Screenshot(const std::string& pngPath);

}  // namespace farsend::gui_test

#include "app/win32/job_dialogs.h"

#include <commctrl.h>

#include <algorithm>

#include "app/command_ids.h"
#include "app/commands.h"
#include "app/job_window.h"
#include "app/win32/message_box.h"
#include "app/win32/thread_wait.h"

namespace farsend::app::win32 {

namespace {

// Bars in pixels of the client area: the erase bar, and below it the
// programming bar of the programming dialogs.
constexpr RECT kEraseBarRect{10, 20, 10 + 280, 20 + 30};
constexpr RECT kProgramBarRect{10, 75, 10 + 280, 75 + 30};
constexpr DWORD kBarStyle = 0x50800001;  // child, visible, border, smooth
// Room kept right of and below the bars.
constexpr int kBarMargin = 10;

struct JobRun {
    jobs::JobKind kind;
    const std::string* path;
    const jobs::JobEnvironment* environment;
    MainWindowPort* mainWindow;
    bool exitAfterProgram;
    HWND dialog = nullptr;
    HWND eraseBar = nullptr;
    HWND programBar = nullptr;
    HANDLE worker = nullptr;
};

// The worker's side of the dialog: everything goes to the dialog as a sent
// command, so the bars move on the dialog's own thread and a call returns
// once it has been shown. EndDialog belongs on the dialog's thread too: the
// dialog ends itself on 1000.
class SentCommandDialog final : public JobDialogPort {
public:
    explicit SentCommandDialog(HWND dialog) : dialog_(dialog) {}
    void SendDialogCommand(int command) override {
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    }
    void ShowMessage(const jobs::Message& message) override { ShowMessageBox(dialog_, message); }

private:
    HWND dialog_;
};

DWORD WINAPI WorkerMain(void* parameter) {
    JobRun& run = *static_cast<JobRun*>(parameter);
    SentCommandDialog dialog(run.dialog);
    JobWindow window(dialog, *run.mainWindow, run.environment->observer);
    jobs::JobEnvironment environment = *run.environment;
    environment.observer = &window;
    const jobs::JobReport report = jobs::RunJobWorker(run.kind, *run.path, environment);
    // After the dialog has ended, as the window program always did.
    if (EndsProcessAfterJob(report, run.exitAfterProgram)) {
        run.mainWindow->SendCommand(kCommandEndProcess);
    }
    return 0;
}

// What the dialog does with the commands it receives.
class DialogControls final : public JobDialogControls {
public:
    explicit DialogControls(const JobRun& run) : run_(run) {}
    void EndDialog() override { ::EndDialog(run_.dialog, 0); }
    void ShowMessage(const jobs::Message& message) override {
        ShowMessageBox(run_.dialog, message);
    }
    void StepEraseBar() override { SendMessageA(run_.eraseBar, PBM_STEPIT, 0, 0); }
    void StepProgramBar() override {
        if (run_.programBar != nullptr) SendMessageA(run_.programBar, PBM_STEPIT, 0, 0);
    }

private:
    const JobRun& run_;
};

HWND CreateBar(HWND dialog, const char* text, const RECT& rect, const ProgressBarSpec& spec) {
    HWND bar = CreateWindowExA(
        0, PROGRESS_CLASSA, text, kBarStyle, rect.left, rect.top, rect.right - rect.left,
        rect.bottom - rect.top, dialog, nullptr,
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE)), nullptr);
    if (bar != nullptr) {
        SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(spec.low, spec.high));
        SendMessageA(bar, PBM_SETSTEP, static_cast<WPARAM>(spec.step), 0);
    }
    return bar;
}

// The templates are smaller than the bars placed in them; grow the client
// area so every bar shows whole, with a margin, keeping the bars where they
// are.
void MakeRoomFor(HWND dialog, const RECT& lowestBar) {
    RECT client;
    GetClientRect(dialog, &client);
    const int width = std::max<int>(client.right, lowestBar.right + kBarMargin);
    const int height = std::max<int>(client.bottom, lowestBar.bottom + kBarMargin);
    if (width == client.right && height == client.bottom) return;
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE)));
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK JobDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            auto* run = reinterpret_cast<JobRun*>(lParam);
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            run->dialog = dialog;
            const bool programming = HasProgramBar(run->kind);
            MakeRoomFor(dialog, programming ? kProgramBarRect : kEraseBarRect);
            run->eraseBar =
                CreateBar(dialog, programming ? kEraseBarTextProgram : kEraseBarTextErase,
                          kEraseBarRect, kEraseBar);
            if (programming) {
                run->programBar = CreateBar(dialog, kProgramBarText, kProgramBarRect, kProgramBar);
            }
            run->worker = CreateThread(nullptr, 0, WorkerMain, run, 0, nullptr);
            if (run->worker == nullptr) ::EndDialog(dialog, -1);
            return TRUE;
        }
        case WM_COMMAND: {
            auto* run = reinterpret_cast<JobRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
            if (run == nullptr) return FALSE;
            DialogControls controls(*run);
            return HandleJobDialogCommand(run->kind, LOWORD(wParam), controls) ? TRUE : FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

void RunJobDialog(HINSTANCE instance, HWND owner, jobs::JobKind kind, const std::string& path,
                  const jobs::JobEnvironment& environment, MainWindowPort& mainWindow,
                  bool exitAfterProgram) {
    JobRun run{kind, &path, &environment, &mainWindow, exitAfterProgram};
    DialogBoxParamA(instance, JobDialogResource(kind), owner, JobDialogProc,
                    reinterpret_cast<LPARAM>(&run));
    if (run.worker == nullptr) {
        // The job never ran, so nothing else will clear its flag.
        auto& busy = jobs::IsProgrammingJob(kind) ? environment.station.programmingBusy
                                                  : environment.station.erasingBusy;
        busy.store(false);
        return;
    }
    // The worker may still be sending to the main window (680 comes after
    // the dialog has ended): wait for it while carrying out what it sends.
    WaitDeliveringSentMessages(run.worker);
    CloseHandle(run.worker);
}

}  // namespace farsend::app::win32

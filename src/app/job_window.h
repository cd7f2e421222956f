// The window program's job dialogs, apart from any window: their resources,
// captions, bars and commands, and how the events of a job become the
// commands the dialog and the main window receive. The Win32 dialog sends
// each command to itself; tests record them.
#pragma once

#include "app/main_window_port.h"
#include "jobs/job_report.h"
#include "jobs/message.h"
#include "jobs/station_events.h"

namespace farsend::app {

// Resource names of the dialogs: "erasedefDB", "eraseallDB", "progDB",
// "progbootDB".
const char* JobDialogResource(jobs::JobKind kind);
// "Erasing Target Flash", "Erasing ALL of Target Flash", "Programming
// Application", "Programming Bootloader and Application".
const char* JobDialogCaption(jobs::JobKind kind);

struct ProgressBarSpec {
    int low;
    int high;
    int step;
};
// Both kinds of dialog have an erase bar; programming dialogs add a
// programming bar, which follows the share of the file already read.
constexpr ProgressBarSpec kEraseBar{0, jobs::kEraseBarSteps, 1};
constexpr ProgressBarSpec kProgramBar{0, jobs::kProgramBarSteps, 1};
inline bool HasProgramBar(jobs::JobKind kind) {
    return jobs::IsProgrammingJob(kind);
}

// What a job dialog does with its commands; the platform provides it.
class JobDialogControls {
public:
    virtual ~JobDialogControls() = default;
    virtual void EndDialog() = 0;
    virtual void ShowMessage(const jobs::Message& message) = 0;
    virtual void StepEraseBar() = 0;
    virtual void StepProgramBar() = 0;
};

// Commands 1000..1003 of a job dialog. Returns whether the command was
// handled (1003 is not, in the erase dialogs; nor is any other id).
bool HandleJobDialogCommand(jobs::JobKind kind, int command, JobDialogControls& controls);

// The notice of command 1001 ("Erasing Flash." / "Programming Flash.").
jobs::Message JobDialogNotice(jobs::JobKind kind);

// The job's side of an open dialog. Each call returns once the dialog has
// carried it out.
class JobDialogPort {
public:
    virtual ~JobDialogPort() = default;
    // 1000, 1002 or 1003, sent to the dialog.
    virtual void SendDialogCommand(int command) = 0;
    // A message box owned by the dialog; returns once dismissed.
    virtual void ShowMessage(const jobs::Message& message) = 0;
};

// An open job dialog as the observer of its job, on the job's thread: one
// erase-bar step per erased block and the rest of the bar once erasing is
// done, the programming bar after the share read, each problem's box owned
// by the dialog, then the main window told of a lost target (650, after its
// box) or of the end of data (660), and the dialog ended (1000) last. Every
// event then goes on to `next`, if any.
class JobWindow final : public jobs::StationObserver {
public:
    JobWindow(JobDialogPort& dialog, MainWindowPort& mainWindow,
              jobs::StationObserver* next = nullptr)
        : dialog_(dialog), mainWindow_(mainWindow), next_(next) {}

    void OnStationEvent(const jobs::StationEvent& event) override;

private:
    void Send(int command, int times = 1);

    JobDialogPort& dialog_;
    MainWindowPort& mainWindow_;
    jobs::StationObserver* const next_;
    int programShown_ = 0;  // where the programming bar stands
};

}  // namespace farsend::app

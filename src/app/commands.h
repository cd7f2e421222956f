// What the main window's commands mean, apart from any window: the Win32
// window procedure and the command-line front end both call these. Each runs
// on the thread that handles the main window's commands.
#pragma once

#include <atomic>

#include "app/main_window_view.h"
#include "app/shell_port.h"
#include "jobs/connection_monitor.h"
#include "jobs/firmware_choice.h"
#include "jobs/job_report.h"
#include "jobs/station_state.h"
#include "protocol/exchange_context.h"

namespace farsend::app {

// One station's commands: what it programs, its state, its link and monitor,
// and the shell that shows its boxes and dialogs.
struct CommandContext {
    jobs::FirmwareChoice& choice;
    jobs::StationState& station;
    protocol::ExchangeContext& exchanges;
    ShellPort& shell;
    jobs::ConnectionMonitorControl& monitor;
    // The window whose status bar follows the station; null without one.
    const std::atomic<MainWindowView*>* view = nullptr;
};

// The erase-all warning of the Erase command in factory mode (OK/Cancel).
jobs::Message EraseAllWarning();

// 610: program the connected target now with the job of the flash mode. With
// no file chosen the Open dialog asks for one; a file that does not fit the
// mode is refused and firmwarePath keeps what it held before.
void ProgramNow(CommandContext& context);
// 612: erase the target's flash (all of it in factory mode, after a warning).
void EraseTargetFlash(CommandContext& context);
// 613: tell the target to start its application and let it go.
void StartTargetApplication(CommandContext& context);
// 614: in Disconnected the monitor is restarted (in an orderly way).
void ConnectToTarget(CommandContext& context);
// 615 and the window's destruction: the monitor is asked to stop, a
// connected target starts its application, and the message loop ends.
void ExitApplication(CommandContext& context);
// 650: a job lost the target: close the link, Disconnected.
void CommunicationFailure(CommandContext& context);
// 659: one programming run, carried out by the monitor once connected.
void RequestProgramming(jobs::StationState& station);
// 660: a programming run finished: Disconnected.
void ProgrammingFinished(CommandContext& context);
// 680: end the process (exitAfterProgram).
void EndProcessAfterProgramming(CommandContext& context);
// The window program's rule for the end of a job: with exitAfterProgram, a
// programming job that programmed the target ends the process (680). A job
// that failed in any way leaves the window open to say so.
bool EndsProcessAfterJob(const jobs::JobReport& report, bool exitAfterProgram);

// Dispatches the commands above by id. False for every other id (the shell's
// own: setup dialogs, auto-program toggle, help) and unknown ones.
bool HandleMainWindowCommand(CommandContext& context, int command);

}  // namespace farsend::app

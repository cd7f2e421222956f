// What the main window's commands mean, apart from any window: the Win32
// window procedure and the command-line front end both call these. Each runs
// on the thread that handles the main window's commands.
#pragma once

#include "app/shell_port.h"
#include "app/tool_settings.h"
#include "jobs/connection_monitor.h"
#include "protocol/exchange_context.h"

namespace farsend::app {

struct CommandContext {
    ToolSettings& settings;
    protocol::ExchangeContext& exchanges;
    ShellPort& shell;
    jobs::ConnectionMonitorControl& monitor;
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
void RequestProgramming(ToolSettings& settings);
// 660: a programming run finished: Disconnected.
void ProgrammingFinished(CommandContext& context);
// 680: end the process (exitAfterProgram).
void EndProcessAfterProgramming(CommandContext& context);

// Dispatches the commands above by id. False for every other id (the shell's
// own: setup dialogs, auto-program toggle, help) and unknown ones.
bool HandleMainWindowCommand(CommandContext& context, int command);

}  // namespace farsend::app

// The four job dialogs ("erasedefDB", "eraseallDB", "progDB", "progbootDB"):
// a modal dialog with its progress bars, and the job's worker on a thread of
// its own that advances the bars and ends the dialog by commands it sends.
#pragma once

#include <windows.h>

#include <string>

#include "app/main_window_port.h"
#include "jobs/job_report.h"
#include "jobs/job_workers.h"

namespace farsend::app::win32 {

// Opens the dialog of `kind` owned by `owner` and runs the job's worker on
// `path` while it is shown, the dialog observing its events before the
// environment's observer. Returns once the dialog has ended and the worker
// thread is gone; meanwhile the commands the job's events become (650, 660)
// reach `mainWindow`, and with `exitAfterProgram` a programming run that
// succeeded then sends 680. If the dialog cannot be created the job does not
// run, and its busy flag is cleared here.
void RunJobDialog(HINSTANCE instance, HWND owner, jobs::JobKind kind, const std::string& path,
                  const jobs::JobEnvironment& environment, MainWindowPort& mainWindow,
                  bool exitAfterProgram);

// Window texts of the bars, by which tests find them.
constexpr const char* kEraseBarTextErase = "Progress";
constexpr const char* kEraseBarTextProgram = "Erase Progress";
constexpr const char* kProgramBarText = "Program Progress";

}  // namespace farsend::app::win32

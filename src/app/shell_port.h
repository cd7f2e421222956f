// What the main window's commands ask of the platform shell: message boxes
// owned by the main window, the Open dialog, the modal job dialogs and the
// end of the message loop or of the process. The Win32 shell implements it
// with MessageBoxA, GetOpenFileNameA and DialogBoxParamA; the command-line
// front end with its terminal; tests with a recorder.
#pragma once

#include <optional>
#include <string>

#include "jobs/job_report.h"
#include "jobs/message.h"

namespace farsend::app {

// The Open dialog of the Program command.
struct OpenFileRequest {
    std::string title = "Open Hex File";
    std::string filterName = "Hex Files";
    std::string filterPattern = "*.hex";
    std::string defaultExtension = "*.hex";
    std::string initialDirectory;  // firmwareDirectory
    bool mustExist = true;
};

class ShellPort {
public:
    virtual ~ShellPort() = default;

    // A modal message box owned by the main window.
    virtual jobs::MessageAnswer ShowMessage(const jobs::Message& message) = 0;
    // The Open dialog: the chosen path, or nothing when cancelled.
    virtual std::optional<std::string> ChooseFirmwareFile(const OpenFileRequest& request) = 0;
    // Opens the job dialog of `kind` modally (it starts the job's worker on
    // `path`, the file a programming job programs) and returns once the
    // dialog has closed.
    virtual void RunJobDialog(jobs::JobKind kind, const std::string& path) = 0;
    // Ends the message loop with `exitCode` (the quit message).
    virtual void EndMessageLoop(int exitCode) = 0;
    // Ends the process at once with `exitCode` (command 680).
    virtual void EndProcess(int exitCode) = 0;
};

}  // namespace farsend::app

// The four jobs and what they tell whoever shows them: the seam that a Win32
// job dialog and the command-line progress display both implement, and the
// behaviour of the job dialogs that does not depend on the platform (their
// captions, bars and commands).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "jobs/message.h"
#include "protocol/image_file.h"

namespace farsend::jobs {

enum class JobKind {
    EraseDefault,
    EraseAll,
    ProgramApplication,
    ProgramBootloaderAndApplication,
};

bool IsProgrammingJob(JobKind kind);

enum class JobOutcome {
    Success,
    // The firmware file could not be opened.
    FileOpenFailed,
    // The firmware file is malformed; what and where is in the report.
    FileFormatError,
    // The start, a block or the end of data was not acknowledged.
    CommunicationError,
    // A reply other than progress or the end of erasing while erasing.
    EraseError,
    // The front end asked the job to stop before its end (JobEnvironment's
    // stop flag): the target was told to leave its run and is not programmed.
    Interrupted,
};

// What a job did, for a front end that reports it.
struct JobReport {
    JobKind kind = JobKind::EraseDefault;
    JobOutcome outcome = JobOutcome::Success;
    // Closing the firmware file failed (in addition to the outcome).
    bool closeFailed = false;
    uint32_t blocksErased = 0;  // BlockErased answers received
    uint32_t blocksSent = 0;    // blocks the target acknowledged
    // A block began to go out (acknowledged or not): from then on the target
    // may hold any byte of it.
    bool dataStarted = false;
    uint64_t bytesSent = 0;  // data bytes in those blocks
    uint64_t fileBytes = 0;  // length of the firmware file as read
    // The firmware file's bytes as the job read them at its start: what it
    // checked and sent (programming jobs that could read the file).
    std::shared_ptr<const std::string> image;
    std::optional<protocol::ImageFormatError> formatError;

    bool Succeeded() const { return outcome == JobOutcome::Success; }
};

// The seam. A worker calls it from its own thread; every call returns once
// it has been shown (the Win32 dialog handles each as a sent command).
class JobDialog {
public:
    virtual ~JobDialog() = default;

    // The worker is about to start the job. The Win32 dialog has its bars
    // already and ignores this.
    virtual void Begin(JobKind /*kind*/) {}
    // Command 1002: one step of the erase bar.
    virtual void StepErase() = 0;
    // The target reported one more block erased (the bar's fill-up steps at
    // the end are not blocks). No dialog command.
    virtual void BlockErased() {}
    // Command 1003: one step of the programming bar (programming jobs only).
    virtual void StepProgram() = 0;
    // A block went to the target and was acknowledged, carrying `bytes` data
    // bytes (0 for the empty last block of a file that ends on a block
    // boundary). No dialog command: for displays that count bytes.
    virtual void BlockSent(std::size_t /*bytes*/) {}
    // A message box owned by the dialog; returns once dismissed.
    virtual void ShowMessage(const Message& message) = 0;
    // Command 1000: the job is over and the dialog ends (result 0). The
    // worker makes no further call on the dialog after this one.
    virtual void End(const JobReport& report) = 0;
};

// --- The job dialogs' own behaviour ---

// Resource names of the dialogs: "erasedefDB", "eraseallDB", "progDB",
// "progbootDB".
const char* JobDialogResource(JobKind kind);
// "Erasing Target Flash", "Erasing ALL of Target Flash", "Programming
// Application", "Programming Bootloader and Application".
const char* JobDialogCaption(JobKind kind);

struct ProgressBarSpec {
    int low;
    int high;
    int step;
};
// Both kinds of dialog have an erase bar; programming dialogs add a
// programming bar, which follows the share of the file already read.
constexpr ProgressBarSpec kEraseBar{0, 20, 1};
constexpr ProgressBarSpec kProgramBar{0, 100, 1};
constexpr int kEraseBarSteps = kEraseBar.high;
inline bool HasProgramBar(JobKind kind) {
    return IsProgrammingJob(kind);
}

// What a job dialog does with its commands; the platform provides it.
class JobDialogControls {
public:
    virtual ~JobDialogControls() = default;
    virtual void EndDialog() = 0;
    virtual void ShowMessage(const Message& message) = 0;
    virtual void StepEraseBar() = 0;
    virtual void StepProgramBar() = 0;
};

// Commands 1000..1003 of a job dialog. Returns whether the command was
// handled (1003 is not, in the erase dialogs; nor is any other id).
bool HandleJobDialogCommand(JobKind kind, int command, JobDialogControls& controls);

// The notice of command 1001 ("Erasing Flash." / "Programming Flash.").
Message JobDialogNotice(JobKind kind);

}  // namespace farsend::jobs

// What an erase or programming job tells whoever shows its progress: the
// steps of the erase bar (0..20) and of the programming bar (0..100) that the
// job dialogs show, each block sent, the messages the job raises, and its
// end. The terminal display implements it; so can a dialog or a test.
#pragma once

#include <cstddef>
#include <string>

namespace farsend::cli {

enum class JobKind {
    EraseDefault,
    EraseAll,
    ProgramApplication,
    ProgramBootloaderAndApplication,
};

// A job's message box style: icon and buttons.
enum class MessageStyle : unsigned {
    Error = 0x10,     // stop icon, OK
    Warning = 0x30,   // exclamation icon, OK
    Question = 0x31,  // exclamation icon, OK and Cancel
    Notice = 0x40,    // information icon, OK
};

constexpr int kEraseBarSteps = 20;
constexpr int kProgramBarSteps = 100;

class JobProgress {
public:
    virtual ~JobProgress() = default;

    // A job starts; erase-only jobs have no programming bar.
    virtual void Begin(JobKind kind) = 0;
    // One step of the erase bar. A target may report more blocks than the bar
    // has steps; the bar then stays full.
    virtual void StepErase() = 0;
    // One step of the programming bar (which follows the file position).
    virtual void StepProgram() = 0;
    // A block went to the target and was acknowledged: `bytes` data bytes.
    virtual void BlockSent(std::size_t bytes) = 0;
    // A message the job raises (errors, warnings); shown even when progress
    // is not.
    virtual void Message(const std::string& text, const std::string& caption,
                         MessageStyle style) = 0;
    // The job has ended, with or without success.
    virtual void Finished(bool success) = 0;
};

// The caption of the dialog that shows the job ("Programming Application").
const char* JobCaption(JobKind kind);
bool IsProgrammingJob(JobKind kind);

}  // namespace farsend::cli

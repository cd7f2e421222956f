#include "jobs/job_workers.h"

#include <cstdio>
#include <memory>

#include "jobs/command_ids.h"
#include "jobs/progress_steps.h"
#include "protocol/exchanges.h"
#include "protocol/image_reader.h"

namespace farsend::jobs {

using protocol::ExchangeContext;
using protocol::ResponseCode;

const char* const kCommunicationErrorText =
    "Communication Error with Target.\nTerminating programming procedure.\nFurther "
    "communication with the target will be terminated.";

namespace {

constexpr const char* kErrorCaption = "Error";
constexpr const char* kEraseErrorCaption = "Erase Error";
constexpr const char* kFileErrorCaption = "File Error";

using BeginExchange = protocol::ExchangeResult (*)(ExchangeContext&);

Message CommunicationError() {
    return {kCommunicationErrorText, kErrorCaption, MessageStyle::Error};
}

Message EraseError(uint32_t block) {
    return {EraseErrorText(block), kEraseErrorCaption, MessageStyle::Error};
}

// What erasing ended with.
enum class EraseResult { Finished, UnexpectedReply };

// Awaits answers until `endCode`, one erase-bar step per BlockErased. Any
// other answer (the Invalid of a 13-second silence included) ends it.
EraseResult FollowErasing(ExchangeContext& exchanges, ResponseCode endCode, JobDialog& dialog,
                          JobReport& report) {
    for (;;) {
        const ResponseCode code = protocol::AwaitResponse(exchanges);
        if (code == ResponseCode::BlockErased) {
            dialog.StepErase();
            dialog.BlockErased();
            ++report.blocksErased;
        } else if (code == endCode) {
            return EraseResult::Finished;
        } else {
            return EraseResult::UnexpectedReply;
        }
    }
}

void FillUpEraseBar(JobDialog& dialog, uint32_t erasedBlocks) {
    for (int step = EraseFillUpSteps(erasedBlocks); step > 0; --step) dialog.StepErase();
}

// The flag is cleared before the dialog ends, so that an Erase command given
// as soon as the dialog has closed is never taken for one given during the
// job.
void Finish(const JobEnvironment& environment, JobDialog& dialog, const JobReport& report) {
    environment.station.erasingBusy = false;
    dialog.End(report);
}

JobReport EraseWorker(JobKind kind, BeginExchange begin, const JobEnvironment& environment,
                      JobDialog& dialog) {
    JobReport report;
    report.kind = kind;
    dialog.Begin(kind);

    if (begin(environment.exchanges) != protocol::ExchangeResult::Ok) {
        dialog.ShowMessage(CommunicationError());
        environment.mainWindow.SendCommand(kCommandCommunicationFailure);
        report.outcome = JobOutcome::CommunicationError;
        Finish(environment, dialog, report);
        return report;
    }

    if (FollowErasing(environment.exchanges, ResponseCode::Done, dialog, report) ==
        EraseResult::UnexpectedReply) {
        // Names the block that was being waited for. The main window is not
        // told: the link stays as it is.
        dialog.ShowMessage(EraseError(report.blocksErased + 1));
        report.outcome = JobOutcome::EraseError;
        Finish(environment, dialog, report);
        return report;
    }

    FillUpEraseBar(dialog, report.blocksErased);
    Finish(environment, dialog, report);
    return report;
}

// Reads the whole snapshot through the image reader, with a quiet state of
// its own (the run that follows writes each block's line), and returns the
// first format error, if any.
std::optional<protocol::ImageFormatError> FindFormatError(const protocol::TokenImage& image) {
    protocol::ImageFile file;
    image.OpenIn(file);
    protocol::ImageReaderState state;
    state.quiet = true;
    protocol::ProgrammingBlockSequence sequence(file, state);
    protocol::FlashBlock block;
    for (;;) {
        switch (sequence.Next(block)) {
            case protocol::ProgrammingStep::SendBlock:
                continue;
            case protocol::ProgrammingStep::SendEndOfData:
                return std::nullopt;
            case protocol::ProgrammingStep::FormatError:
                break;
        }
        break;
    }
    std::optional<protocol::ImageFormatError> error = file.Error();
    if (!error) {
        error.emplace();
        error->kind = protocol::ImageFormatErrorKind::ReadFailed;
    }
    return error;
}

struct ProgrammingMode {
    JobKind kind;
    BeginExchange begin;
    ResponseCode endOfErase;
};

// One programming run: the file, the flags and the report of one worker.
class ProgrammingRun {
public:
    ProgrammingRun(const ProgrammingMode& mode, const JobEnvironment& environment,
                   const std::string& path, JobDialog& dialog)
        : mode_(mode),
          environment_(environment),
          exchanges_(environment.exchanges),
          dialog_(dialog),
          path_(path) {
        report_.kind = mode.kind;
    }

    JobReport Run() {
        dialog_.Begin(mode_.kind);
        // The file is read whole, once: the check, the blocks sent, the
        // progress and the digest a front end reports all come from this one
        // snapshot, so a file replaced or cut short during the run can never
        // leave the target holding part of one file, or a mix of two.
        const protocol::ImageSnapshot snapshot = Snapshot();
        if (snapshot.status == protocol::ImageSnapshot::Status::OpenFailed) {
            report_.outcome = JobOutcome::FileOpenFailed;
            dialog_.ShowMessage(
                {FileOpenErrorText(mode_.kind), kFileErrorCaption, MessageStyle::Error});
        } else {
            if (snapshot.status == protocol::ImageSnapshot::Status::ReadFailed) {
                protocol::ImageFormatError error;
                error.kind = protocol::ImageFormatErrorKind::ReadFailed;
                FormatErrorFound(error, true);
            } else {
                report_.image = snapshot.bytes;
                report_.fileBytes = snapshot.bytes->size();
                if (ReadTokens(snapshot.bytes)) {
                    tokens_.OpenIn(file_);
                    EraseAndProgram();
                    file_.Close();
                }
            }
            if (snapshot.closeFailed) {
                report_.closeFailed = true;
                dialog_.ShowMessage(
                    {FileCloseErrorText(mode_.kind), kFileErrorCaption, MessageStyle::Error});
            }
        }

        environment_.station.programmingBusy = false;
        dialog_.End(report_);
        return report_;
    }

private:
    // The run's image when it has one, else the file as it is now.
    protocol::ImageSnapshot Snapshot() const {
        if (!environment_.image) return protocol::TakeImageSnapshot(path_);
        protocol::ImageSnapshot given;
        given.status = protocol::ImageSnapshot::Status::Read;
        given.bytes = environment_.image;
        return given;
    }

    // The snapshot as the token text the image reader takes: itself for a
    // token file; for the other formats (a front end that reads them asks
    // for it) their bytes at their addresses in that form. A file of another
    // format that does not read is refused before the target is touched.
    bool ReadTokens(const std::shared_ptr<const std::string>& bytes) {
        tokens_ = protocol::TokenImage{};
        tokens_.tokens = bytes;
        if (environment_.imageFormat == nullptr) return true;
        tokens_ = protocol::ReadImageAsTokens(bytes, *environment_.imageFormat);
        if (tokens_.error) {
            FormatErrorFound(*tokens_.error, true);
            return false;
        }
        return true;
    }

    // Everything the snapshot is used for; each failure returns.
    void EraseAndProgram() {
        // The whole snapshot is checked before the target is touched, so that
        // a malformed file never leaves an erased target behind.
        if (std::optional<protocol::ImageFormatError> error = FindFormatError(tokens_)) {
            FormatErrorFound(*error, true);
            return;
        }
        if (StopAsked()) {
            report_.outcome = JobOutcome::Interrupted;
            return;
        }
        if (mode_.begin(exchanges_) != protocol::ExchangeResult::Ok) {
            CommunicationFailed();
            return;
        }
        if (FollowErasing(exchanges_, mode_.endOfErase, dialog_, report_) ==
            EraseResult::UnexpectedReply) {
            report_.outcome = JobOutcome::EraseError;
            dialog_.ShowMessage(EraseError(report_.blocksErased + 1));
            return;
        }
        FillUpEraseBar(dialog_, report_.blocksErased);
        Program();
    }

    void Program() {
        // The position is in the token text, so the bar measures that.
        ProgramBarSteps bar(file_.Size());
        protocol::ImageReaderState state;
        protocol::ProgrammingBlockSequence sequence(file_, state);
        protocol::FlashBlock block;
        for (;;) {
            // The bar shows the share of the file read before this block;
            // once the file is read to its end it moves no further.
            if (!sequence.AtEnd()) {
                for (int steps = bar.StepsAt(file_.Position()); steps > 0; --steps) {
                    dialog_.StepProgram();
                }
            }
            switch (sequence.Next(block)) {
                case protocol::ProgrammingStep::SendBlock:
                    if (!Send(block)) return;
                    continue;
                case protocol::ProgrammingStep::SendEndOfData:
                    if (StopAsked()) {
                        Interrupt();
                        return;
                    }
                    if (protocol::SendEndOfData(exchanges_) != protocol::ExchangeResult::Ok) {
                        CommunicationFailed();
                        return;
                    }
                    environment_.mainWindow.SendCommand(kCommandProgrammingFinished);
                    return;
                case protocol::ProgrammingStep::FormatError:
                    // Cannot happen to a snapshot that passed its check; if
                    // it did, the run must not end as if it had worked: no
                    // end of data, and the target leaves its programming run.
                    FormatErrorFound(file_.Error().value_or(protocol::ImageFormatError{}), false);
                    protocol::AbortTarget(exchanges_);
                    return;
            }
        }
    }

    bool StopAsked() const { return environment_.stop != nullptr && environment_.stop->load(); }

    // Ends the run between two blocks: the target leaves its programming
    // run rather than keep half an image as if it were whole.
    void Interrupt() {
        report_.outcome = JobOutcome::Interrupted;
        protocol::AbortTarget(exchanges_);
    }

    bool Send(protocol::FlashBlock& block) {
        if (StopAsked()) {
            Interrupt();
            return false;
        }
        if (environment_.serial != nullptr) {
            protocol::StampSerialBlock(environment_.serial->spec, environment_.serial->bytes,
                                       block);
        }
        report_.dataStarted = true;
        if (protocol::SendFlashBlock(exchanges_, block) != protocol::ExchangeResult::Ok) {
            CommunicationFailed();
            return false;
        }
        ++report_.blocksSent;
        report_.bytesSent += block.count;
        dialog_.BlockSent(block.count);
        return true;
    }

    void CommunicationFailed() {
        report_.outcome = JobOutcome::CommunicationError;
        dialog_.ShowMessage(CommunicationError());
        environment_.mainWindow.SendCommand(kCommandCommunicationFailure);
    }

    void FormatErrorFound(const protocol::ImageFormatError& error, bool beforeStart) {
        report_.outcome = JobOutcome::FileFormatError;
        report_.formatError = error;
        dialog_.ShowMessage({FileFormatErrorText(path_, error, beforeStart), kFileErrorCaption,
                             MessageStyle::Error});
    }

    const ProgrammingMode& mode_;
    const JobEnvironment& environment_;
    ExchangeContext& exchanges_;
    JobDialog& dialog_;
    const std::string path_;
    protocol::ImageFile file_;
    protocol::TokenImage tokens_;
    JobReport report_;
};

}  // namespace

std::string EraseErrorText(uint32_t block) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "Unexpected Error encountered erasing Block: %lu.\nTerminating operation.",
                  static_cast<unsigned long>(block));
    return text;
}

const char* FileOpenErrorText(JobKind kind) {
    return kind == JobKind::ProgramBootloaderAndApplication ? "Error opening selected hex file."
                                                            : "Error opening selected HEX file.";
}

const char* FileCloseErrorText(JobKind kind) {
    return kind == JobKind::ProgramBootloaderAndApplication ? "Cannot selected HEX file."
                                                            : "Cannot Close Flash.hex.";
}

std::string FileFormatErrorText(const std::string& path, const protocol::ImageFormatError& error,
                                bool beforeStart) {
    std::string text = "Format error in selected HEX file.\n";
    text += path;
    text += ", ";
    text += protocol::DescribeImageFormatError(error);
    text += beforeStart ? ".\nNothing was sent to the target."
                        : ".\nProgramming stopped; the target is not programmed.";
    return text;
}

JobReport EraseDefaultWorker(const JobEnvironment& environment, JobDialog& dialog) {
    return EraseWorker(JobKind::EraseDefault, &protocol::BeginEraseDefault, environment, dialog);
}

JobReport EraseAllWorker(const JobEnvironment& environment, JobDialog& dialog) {
    return EraseWorker(JobKind::EraseAll, &protocol::BeginEraseAll, environment, dialog);
}

JobReport ProgramApplicationWorker(const JobEnvironment& environment, const std::string& path,
                                   JobDialog& dialog) {
    const ProgrammingMode mode{JobKind::ProgramApplication, &protocol::BeginProgramApplication,
                               ResponseCode::ProgramApplicationAck};
    return ProgrammingRun(mode, environment, path, dialog).Run();
}

JobReport ProgramBootloaderWorker(const JobEnvironment& environment, const std::string& path,
                                  JobDialog& dialog) {
    const ProgrammingMode mode{JobKind::ProgramBootloaderAndApplication,
                               &protocol::BeginProgramBootloaderAndApplication,
                               ResponseCode::ProgramBootloaderAndApplicationAck};
    return ProgrammingRun(mode, environment, path, dialog).Run();
}

namespace {

JobReport RunWorker(JobKind kind, const std::string& path, const JobEnvironment& environment,
                    JobDialog& dialog) {
    switch (kind) {
        case JobKind::EraseDefault:
            return EraseDefaultWorker(environment, dialog);
        case JobKind::EraseAll:
            return EraseAllWorker(environment, dialog);
        case JobKind::ProgramApplication:
            return ProgramApplicationWorker(environment, path, dialog);
        case JobKind::ProgramBootloaderAndApplication:
            return ProgramBootloaderWorker(environment, path, dialog);
    }
    return {};
}

}  // namespace

JobReport RunJobWorker(JobKind kind, const std::string& path, const JobEnvironment& environment,
                       JobDialog& dialog) {
    if (environment.observer == nullptr) return RunWorker(kind, path, environment, dialog);
    ObservedJobDialog observed(dialog, *environment.observer);
    JobReport report = RunWorker(kind, path, environment, observed);
    observed.Finished(report);
    return report;
}

}  // namespace farsend::jobs

#include "jobs/job_workers.h"

#include <cstdio>
#include <memory>

#include "jobs/progress_steps.h"
#include "jobs/station_events.h"
#include "link/hid_serial_link.h"
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

events::JobProblem Problem(JobKind job, events::JobProblemKind kind) {
    events::JobProblem problem;
    problem.job = job;
    problem.problem = kind;
    return problem;
}

// The target is lost: the outcome says whether the bridge went with it,
// looked at now, while the failed exchange is fresh.
void LoseTarget(const JobEnvironment& environment, JobReport& report) {
    events::JobProblem problem = Problem(report.kind, events::JobProblemKind::CommunicationLost);
    problem.bridgeGone = link::HidLinkBridgeGone(environment.exchanges.Link());
    report.outcome =
        problem.bridgeGone ? JobOutcome::BridgeUnplugged : JobOutcome::CommunicationError;
    Tell(environment.observer, problem);
}

void EraseFailed(const JobEnvironment& environment, JobReport& report) {
    report.outcome = JobOutcome::EraseError;
    events::JobProblem problem = Problem(report.kind, events::JobProblemKind::EraseError);
    // Names the block that was being waited for.
    problem.block = report.blocksErased + 1;
    Tell(environment.observer, problem);
}

// What erasing ended with.
enum class EraseResult { Finished, UnexpectedReply };

// Awaits answers until `endCode`, one event per BlockErased. Any other
// answer (the Invalid of a 13-second silence included) ends it.
EraseResult FollowErasing(const JobEnvironment& environment, ResponseCode endCode,
                          JobReport& report) {
    for (;;) {
        const ResponseCode code = protocol::AwaitResponse(environment.exchanges);
        if (code == ResponseCode::BlockErased) {
            ++report.blocksErased;
            Tell(environment.observer, events::EraseStep{report.kind, report.blocksErased});
        } else if (code == endCode) {
            Tell(environment.observer, events::EraseDone{report.kind, report.blocksErased});
            return EraseResult::Finished;
        } else {
            return EraseResult::UnexpectedReply;
        }
    }
}

// The flag is cleared before the job's last event, so that an Erase command
// given as soon as a front end has shown the end is never taken for one
// given during the job.
void Finish(const JobEnvironment& environment, const JobReport& report) {
    environment.station.erasingBusy = false;
    Tell(environment.observer, events::Finished{report});
}

JobReport EraseWorker(JobKind kind, BeginExchange begin, const JobEnvironment& environment) {
    JobReport report;
    report.kind = kind;
    Tell(environment.observer, events::JobStarted{kind});

    if (begin(environment.exchanges) != protocol::ExchangeResult::Ok) {
        LoseTarget(environment, report);
        Finish(environment, report);
        return report;
    }
    if (FollowErasing(environment, ResponseCode::Done, report) == EraseResult::UnexpectedReply) {
        // The link stays as it is.
        EraseFailed(environment, report);
    }
    Finish(environment, report);
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
                   const std::string& path)
        : mode_(mode), environment_(environment), exchanges_(environment.exchanges), path_(path) {
        report_.kind = mode.kind;
    }

    JobReport Run() {
        Tell(environment_.observer, events::JobStarted{mode_.kind});
        // The file is read whole, once: the check, the blocks sent, the
        // progress and the digest a front end reports all come from this one
        // snapshot, so a file replaced or cut short during the run can never
        // leave the target holding part of one file, or a mix of two.
        const protocol::ImageSnapshot snapshot = Snapshot();
        if (snapshot.status == protocol::ImageSnapshot::Status::OpenFailed) {
            report_.outcome = JobOutcome::FileOpenFailed;
            Tell(environment_.observer,
                 Problem(mode_.kind, events::JobProblemKind::FileOpenFailed));
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
                Tell(environment_.observer,
                     Problem(mode_.kind, events::JobProblemKind::FileCloseFailed));
            }
        }

        environment_.station.programmingBusy = false;
        Tell(environment_.observer, events::Finished{report_});
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
        if (FollowErasing(environment_, mode_.endOfErase, report_) ==
            EraseResult::UnexpectedReply) {
            EraseFailed(environment_, report_);
            return;
        }
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
            if (!sequence.AtEnd() && bar.StepsAt(file_.Position()) > 0) {
                Tell(environment_.observer, events::ProgramProgress{mode_.kind, bar.Position()});
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
                    Tell(environment_.observer, events::DataEnded{mode_.kind});
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
        Tell(environment_.observer,
             events::BlockSent{mode_.kind, report_.blocksSent, report_.bytesSent, block.count});
        return true;
    }

    void CommunicationFailed() { LoseTarget(environment_, report_); }

    void FormatErrorFound(const protocol::ImageFormatError& error, bool beforeStart) {
        report_.outcome = JobOutcome::FileFormatError;
        report_.formatError = error;
        events::JobProblem problem = Problem(mode_.kind, events::JobProblemKind::FileFormatError);
        problem.format = error;
        problem.path = path_;
        problem.beforeStart = beforeStart;
        Tell(environment_.observer, problem);
    }

    const ProgrammingMode& mode_;
    const JobEnvironment& environment_;
    ExchangeContext& exchanges_;
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

Message JobProblemMessage(const events::JobProblem& problem) {
    switch (problem.problem) {
        case events::JobProblemKind::FileOpenFailed:
            return {FileOpenErrorText(problem.job), kFileErrorCaption, MessageStyle::Error};
        case events::JobProblemKind::FileFormatError:
            return {FileFormatErrorText(problem.path,
                                        problem.format.value_or(protocol::ImageFormatError{}),
                                        problem.beforeStart),
                    kFileErrorCaption, MessageStyle::Error};
        case events::JobProblemKind::CommunicationLost:
            return {kCommunicationErrorText, kErrorCaption, MessageStyle::Error};
        case events::JobProblemKind::EraseError:
            return {EraseErrorText(problem.block), kEraseErrorCaption, MessageStyle::Error};
        case events::JobProblemKind::FileCloseFailed:
            return {FileCloseErrorText(problem.job), kFileErrorCaption, MessageStyle::Error};
    }
    return {};
}

JobReport EraseDefaultWorker(const JobEnvironment& environment) {
    return EraseWorker(JobKind::EraseDefault, &protocol::BeginEraseDefault, environment);
}

JobReport EraseAllWorker(const JobEnvironment& environment) {
    return EraseWorker(JobKind::EraseAll, &protocol::BeginEraseAll, environment);
}

JobReport ProgramApplicationWorker(const JobEnvironment& environment, const std::string& path) {
    const ProgrammingMode mode{JobKind::ProgramApplication, &protocol::BeginProgramApplication,
                               ResponseCode::ProgramApplicationAck};
    return ProgrammingRun(mode, environment, path).Run();
}

JobReport ProgramBootloaderWorker(const JobEnvironment& environment, const std::string& path) {
    const ProgrammingMode mode{JobKind::ProgramBootloaderAndApplication,
                               &protocol::BeginProgramBootloaderAndApplication,
                               ResponseCode::ProgramBootloaderAndApplicationAck};
    return ProgrammingRun(mode, environment, path).Run();
}

JobKind ProgrammingJobFor(FlashMode mode) {
    return mode == FlashMode::BootloaderAndApplication ? JobKind::ProgramBootloaderAndApplication
                                                       : JobKind::ProgramApplication;
}

JobReport RunJobWorker(JobKind kind, const std::string& path, const JobEnvironment& environment) {
    switch (kind) {
        case JobKind::EraseDefault:
            return EraseDefaultWorker(environment);
        case JobKind::EraseAll:
            return EraseAllWorker(environment);
        case JobKind::ProgramApplication:
            return ProgramApplicationWorker(environment, path);
        case JobKind::ProgramBootloaderAndApplication:
            return ProgramBootloaderWorker(environment, path);
    }
    return {};
}

}  // namespace farsend::jobs

// The four jobs and what each one did: its kind, its outcome and its counts,
// for whoever follows or reports it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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
    // An exchange failed because the bridge itself was gone: found at the
    // failed exchange, not afterwards. Shown as a communication error.
    BridgeUnplugged,
};

// "success", "file open failed", "file format error", "communication error",
// "erase error", "interrupted", "bridge unplugged".
const char* JobOutcomeName(JobOutcome outcome);

// The target stopped answering part way (or its bridge went).
inline bool LostTheTarget(JobOutcome outcome) {
    return outcome == JobOutcome::CommunicationError || outcome == JobOutcome::BridgeUnplugged;
}

// What a job did, for a front end that reports it. The counts here are the
// only ones: the events of a job carry them as they stand.
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

// How far the bars of a job's progress go: the erase bar has 20 steps, the
// programming bar 100 (a percentage).
constexpr int kEraseBarSteps = 20;
constexpr int kProgramBarSteps = 100;

}  // namespace farsend::jobs

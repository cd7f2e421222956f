// What happens at one station, as typed events: a front end follows its
// targets through these instead of reading the texts of boxes. Each event
// is raised where the work happens (the monitor's pass, the job's exchange)
// and has a type of its own, with only what that kind of event carries.
// Each station has one observer, called on the thread that did the work
// (the monitor's, or the job's), one event at a time; an event is told
// before the work goes on, so an observer that takes its time (a box the
// operator must dismiss) holds the work up for that long.
//
// Between targets, while no target is connected:
//
//   Searching               before each handshake; the observer may stop
//                           the monitor here, and no handshake then begins
//   BoardTakenOut           a socket held after a failed unit is free: its
//                           board stopped calling (only with a SocketHold)
//
// For each target the events come in this order:
//
//   Connected
//   Identified              only when the file was checked against the target
//   then one of:
//     Refused               no file named, or the file does not fit
//     the job:
//       JobStarted
//       EraseStep...        one per erased block, as the target reports them
//       EraseDone           erasing ended as it should
//       ProgramProgress...  the share of the image read before the next block
//       BlockSent...        one per acknowledged block (interleaved with the
//                           progress above)
//       DataEnded           the end of data was acknowledged: programmed
//       JobProblem...       what went wrong, where the job's box would show it
//       Finished            the job's outcome, always last of the job
//   Disconnected            the monitor let the target go
//
// An erase the operator starts on a connected target gives the job's events
// between Connected and Disconnected. A job that cannot read its file gives
// JobStarted, JobProblem and Finished alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "jobs/job_report.h"
#include "protocol/image_format.h"

namespace farsend::jobs {

// Why a connected target was not programmed.
enum class Refusal {
    NoFirmwareNamed,     // nothing to program
    FirmwareDoesNotFit,  // the target is another variant or version
};

namespace events {

struct Searching {};
struct Connected {};
// The target's answers to the two queries; "" for one it did not give.
struct Identified {
    std::string variant;
    std::string version;
};
// What a firmware file's name says it is for.
struct FileIdentity {
    bool bluetooth = false;
    bool zigBee = false;
    // major, minor; none: any version.
    std::optional<std::pair<std::int32_t, std::int32_t>> version;
};

// The query a silent target did not answer.
enum class TargetQuery { Variant, Version };

struct Refused {
    Refusal refusal = Refusal::NoFirmwareNamed;
    // FirmwareDoesNotFit: the file, and why. A target that left `unanswered`
    // without a reply is silent, and whether the file fits is unknown;
    // otherwise the target is what it said (`variant`, `version`) and the
    // file is for something else (`file`).
    std::string path;
    std::optional<TargetQuery> unanswered;
    std::string variant;
    std::string version;
    FileIdentity file;
};
struct JobStarted {
    JobKind job = JobKind::EraseDefault;
};
struct EraseStep {
    JobKind job = JobKind::EraseDefault;
    std::uint32_t blocksErased = 0;  // so far, this one included
};
// Erasing ended with the code it should: the erase bar is full, whatever
// number of blocks the target reported.
struct EraseDone {
    JobKind job = JobKind::EraseDefault;
    std::uint32_t blocksErased = 0;
};
// The programming bar moved to `percent` (0..100) of the image read.
struct ProgramProgress {
    JobKind job = JobKind::ProgramApplication;
    int percent = 0;
};
struct BlockSent {
    JobKind job = JobKind::ProgramApplication;
    std::uint32_t blocksSent = 0;  // so far, this one included
    std::uint64_t bytesSent = 0;   // so far, this one included
    std::size_t blockBytes = 0;    // this block's data bytes
};
struct DataEnded {
    JobKind job = JobKind::ProgramApplication;
};

// What went wrong in a job. The job goes on to its end after each (a file
// that cannot be closed comes in addition to the outcome).
enum class JobProblemKind {
    FileOpenFailed,
    FileFormatError,
    CommunicationLost,  // the target (or its bridge) stopped answering
    EraseError,         // an unexpected reply while erasing
    FileCloseFailed,
};

struct JobProblem {
    JobKind job = JobKind::EraseDefault;
    JobProblemKind problem = JobProblemKind::CommunicationLost;
    // EraseError: the block that was being waited for (1 for the first).
    std::uint32_t block = 0;
    // FileFormatError: what and where, in which file, and whether it was
    // found before anything went to the target.
    std::optional<protocol::ImageFormatError> format;
    std::string path;
    bool beforeStart = true;
    // CommunicationLost: the bridge itself was gone.
    bool bridgeGone = false;
};

struct Finished {
    JobReport report;
};
struct Disconnected {};
struct BoardTakenOut {};

}  // namespace events

using StationEvent =
    std::variant<events::Searching, events::Connected, events::Identified, events::Refused,
                 events::JobStarted, events::EraseStep, events::EraseDone, events::ProgramProgress,
                 events::BlockSent, events::DataEnded, events::JobProblem, events::Finished,
                 events::Disconnected, events::BoardTakenOut>;

// "searching", "connected", "identified", "refused", "job started", "erase
// step", "erase done", "program progress", "block sent", "data ended", "job
// problem", "finished", "disconnected", "board taken out".
const char* StationEventName(const StationEvent& event);

class StationObserver {
public:
    virtual ~StationObserver() = default;
    virtual void OnStationEvent(const StationEvent& event) = 0;
};

// Tells `observer`, if there is one.
inline void Tell(StationObserver* observer, const StationEvent& event) {
    if (observer != nullptr) observer->OnStationEvent(event);
}

}  // namespace farsend::jobs

// What happens at one station, as typed events: a front end follows its
// targets through these instead of reading the texts of the boxes the core
// shows. Each station has its own observer, called on the thread that did
// the work (the monitor's, or the job's), one event at a time.
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
//     EraseStep...          one per erased block, as the target reports them
//     BlockSent...          one per acknowledged block
//     Finished              the job's outcome, always last of the job
//   Disconnected            the monitor let the target go
//
// An erase the operator starts on a connected target gives EraseStep... and
// Finished between Connected and Disconnected. A job that cannot read its
// file gives Finished alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "jobs/job_dialog.h"

namespace farsend::jobs {

enum class StationEventKind {
    Searching,
    Connected,
    Identified,
    Refused,
    EraseStep,
    BlockSent,
    Finished,
    Disconnected,
    BoardTakenOut,
};

enum class Refusal {
    NoFirmwareNamed,     // nothing to program
    FirmwareDoesNotFit,  // the target is another variant or version
};

struct StationEvent {
    StationEventKind kind = StationEventKind::Connected;
    // Identified: the target's replies, "" when it gave none.
    std::string variant;
    std::string version;
    // Refused.
    Refusal refusal = Refusal::NoFirmwareNamed;
    // EraseStep, BlockSent, Finished: the job's counts so far.
    JobKind job = JobKind::EraseDefault;
    std::uint32_t blocksErased = 0;
    std::uint32_t blocksSent = 0;
    std::uint64_t bytesSent = 0;
    std::size_t blockBytes = 0;  // BlockSent: this block's data bytes
    // Finished.
    JobOutcome outcome = JobOutcome::Success;
};

// "searching", "connected", "identified", "refused", "erase step", "block sent",
// "finished", "disconnected", "board taken out".
const char* StationEventName(StationEventKind kind);

class StationObserver {
public:
    virtual ~StationObserver() = default;
    virtual void OnStationEvent(const StationEvent& event) = 0;
};

// A job dialog that tells the station's observer what the job does, and
// passes every call on to the dialog the user sees.
class ObservedJobDialog final : public JobDialog {
public:
    ObservedJobDialog(JobDialog& inner, StationObserver& observer)
        : inner_(inner), observer_(observer) {}

    void Begin(JobKind kind) override;
    void StepErase() override { inner_.StepErase(); }
    void BlockErased() override;
    void StepProgram() override { inner_.StepProgram(); }
    void BlockSent(std::size_t bytes) override;
    void ShowMessage(const Message& message) override { inner_.ShowMessage(message); }
    void End(const JobReport& report) override { inner_.End(report); }

    // The job's outcome, once its worker has returned.
    void Finished(const JobReport& report);

private:
    JobDialog& inner_;
    StationObserver& observer_;
    JobKind kind_ = JobKind::EraseDefault;
    std::uint32_t blocksErased_ = 0;
    std::uint32_t blocksSent_ = 0;
    std::uint64_t bytesSent_ = 0;
};

}  // namespace farsend::jobs

// The run-time state of one station: one bridge, its connection monitor and
// its jobs. Flags and states are atomics, since the user-interface thread,
// the monitor and the job threads all look at them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/shared_text.h"
#include "jobs/firmware_choice.h"

namespace farsend::jobs {

enum class ConnectionState : int32_t {
    NeverConnected = 0,
    Disconnected = 1,
    Connected = 2,
};

// The one-shot request to program the connected target. The values are the
// ones the window program has always stored ("no request" is 4, not 0).
enum class ProgramRequest : int32_t {
    Requested = 1,
    None = 4,
};

// "Requested" or "None"; "Unknown" for a value outside the list.
const char* ProgramRequestName(ProgramRequest request);

// Who talks to the target beyond the monitor's handshake. The monitor's
// programming attempt (its checking queries, the job it starts, its pause
// and disconnect) and a command the operator gives (erase, launch) would
// otherwise interleave their packets on the one link while the window still
// shows the target as connected.
enum class LinkUser : int32_t { None, Monitor, Operator };

// Holds the link for one user for as long as it lives; Held() is false when
// another user had it already, and then nothing is released at the end.
class LinkClaim {
public:
    LinkClaim(std::atomic<LinkUser>& holder, LinkUser user) : holder_(holder) {
        LinkUser none = LinkUser::None;
        held_ = holder_.compare_exchange_strong(none, user);
    }
    ~LinkClaim() {
        if (held_) holder_.store(LinkUser::None);
    }
    LinkClaim(const LinkClaim&) = delete;
    LinkClaim& operator=(const LinkClaim&) = delete;

    bool Held() const { return held_; }

private:
    std::atomic<LinkUser>& holder_;
    bool held_ = false;
};

struct StationState {
    // Program every target that connects (the GUI's switch; watch).
    std::atomic<bool> autoProgram{false};
    std::atomic<ConnectionState> connectionState{ConnectionState::NeverConnected};
    std::atomic<ProgramRequest> programRequest{ProgramRequest::None};
    std::atomic<bool> monitorRunning{false};
    std::atomic<bool> programmingBusy{false};
    std::atomic<bool> erasingBusy{false};
    std::atomic<LinkUser> linkUser{LinkUser::None};
    // The file the monitor's current attempt checked against this station's
    // target; empty outside an attempt. The job it starts programs this
    // file, not one the operator chose while the checking queries ran.
    SharedText attemptPath;
};

// The file a programming job started now on `station` must program.
inline std::string PathToProgram(const FirmwareChoice& choice, const StationState& station) {
    std::string checked = station.attemptPath.Get();
    return checked.empty() ? choice.firmwarePath.Get() : checked;
}

}  // namespace farsend::jobs

// A socket whose board failed. Its bootloader calls again as soon as the
// station lets it go, and a station that answered would take the same board
// for a new unit, over and over. Held, the station answers no call until the
// board has been taken out (no call for kBoardOutQuiet) or the operator asks
// for the board in the socket to be tried again.
//
// Whoever judges a unit failed holds the socket (on the monitor's thread,
// between the unit's end and the next pass); the monitor waits for the board
// to go before its next handshake; a retry may come from any thread.
#pragma once

#include <atomic>

#include "common/clock.h"
#include "protocol/exchange_context.h"

namespace farsend::jobs {

// A bootloader calls every 50 ms: 400 ms without a call is eight missed in
// a row, more than line noise takes, and less than a hand needs to take a
// board out and put the next one in.
constexpr Millis kBoardOutQuiet{400};
// How long one look lasts before the monitor's pass ends and the next
// begins (its stop and deadline are looked at between passes).
constexpr Millis kBoardWatchWindow{3000};

class SocketHold {
public:
    void Hold() {
        retry_ = false;
        held_ = true;
    }
    bool Held() const { return held_; }
    // The operator's retry; true when the socket was held. A monitor that
    // is listening stops within a few milliseconds and answers the next
    // call.
    bool Retry() {
        if (!held_) return false;
        retry_ = true;
        return true;
    }
    // Ends the hold; true when it ended by a retry.
    bool Release() {
        held_ = false;
        return retry_.exchange(false);
    }
    const std::atomic<bool>* RetryFlag() const { return &retry_; }

private:
    std::atomic<bool> held_{false};
    std::atomic<bool> retry_{false};
};

}  // namespace farsend::jobs

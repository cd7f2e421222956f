// Whether a target is still in its socket, told by its calls alone. A
// bootloader that has not been answered calls (TargetCall) every 50 ms for as
// long as it has power; a board left in its socket after a failed run calls
// again as soon as the host has let it go, and a board taken out calls no
// more. Listening without answering leaves the target as it was: a station
// can wait for its board to go without taking it again.
#pragma once

#include <atomic>

#include "common/clock.h"
#include "protocol/exchange_context.h"

namespace farsend::protocol {

enum class CallWatch {
    Quiet,         // no call for the quiet time: the board is out
    StillCalling,  // calls kept coming for the whole window
    Cancelled,     // `stop` or `retry` was set
    LinkFailed,    // the link did not open, or its bridge went
};

// Opens the link, listens for up to `window` and closes the link again.
// Quiet as soon as `quiet` has passed without a call since the open or the
// last call. `stop` and `retry` are looked at before every poll; `stop` also
// ends a wait at once when its setter calls context.WakeReceiver(), `retry`
// within a few milliseconds.
CallWatch WatchCalls(ExchangeContext& context, Millis quiet, Millis window,
                     const std::atomic<bool>* stop, const std::atomic<bool>* retry);

}  // namespace farsend::protocol

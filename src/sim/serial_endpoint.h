// The serial side of the simulated bridge: whatever sits at the far end of
// the UART. The simulated target implements it; tests plug in scripted ones.
//
// The bridge drives it from the thread that writes (host bytes) and from the
// reader thread (target bytes). Implementations lock what they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/clock.h"

namespace farsend::sim {

class SerialEndpoint {
public:
    virtual ~SerialEndpoint() = default;

    // Bytes the host sent, in order, at time `now`.
    virtual void OnHostBytes(const uint8_t* data, size_t length, Millis now) = 0;

    // Appends to `out` every byte the endpoint has sent by `now`, and returns
    // the time at which it will next send something of its own accord
    // (Millis::max() when it waits for the host).
    virtual Millis CollectTargetBytes(Millis now, std::vector<uint8_t>& out) = 0;

    // For a bridge on the real clock, which sleeps between looks: the
    // earliest time the host could find something new, that is output that
    // fills `reportBytes` or ends a burst on the line, or an event that may
    // make output or pull the plug. Events that change only the endpoint's
    // own state need no look, as the endpoint catches up on them at the next
    // call. A lower bound will do: too early costs a look, too late delays
    // output. Millis(0): no better bound than CollectTargetBytes' answer.
    virtual Millis NextHostVisibleTime(size_t /*reportBytes*/) { return Millis(0); }

    // The host opened the bridge / sent the close report or close feature.
    virtual void OnBridgeOpened(Millis /*now*/) {}
    virtual void OnBridgeClosed(Millis /*now*/) {}
};

}  // namespace farsend::sim

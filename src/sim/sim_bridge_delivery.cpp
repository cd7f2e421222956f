// The simulated bridge's delivery clock: when the serial side is open, what
// the endpoint sends and when it is due, and the clock that delivers it in
// virtual time.
#include <algorithm>

#include "sim/sim_bridge.h"

namespace farsend::sim {

// --- the serial side ----------------------------------------------------------

void SimBridge::OpenUartLocked(Millis now) {
    if (uartOpen_) return;
    // Whatever the target sent while nobody listened is lost.
    if (endpoint_ != nullptr) {
        std::vector<uint8_t> stale;
        endpoint_->CollectTargetBytes(now, stale);
        endpoint_->OnBridgeOpened(now);
    }
    uartOpen_ = true;
    nextDue_ = lookDue_ = Millis::max();
    CollectLocked(now);
}

void SimBridge::CloseUartLocked(Millis now) {
    if (!uartOpen_) return;
    uartOpen_ = false;
    if (endpoint_ != nullptr) endpoint_->OnBridgeClosed(now);
    nextDue_ = lookDue_ = Millis::max();
    // Reports not yet taken are gone, as the bridge stops reporting.
    enqueued_ -= inbound_.size();
    inbound_.clear();
    changed_.notify_all();
}

void SimBridge::HostBytesLocked(const uint8_t* data, size_t length, Millis now) {
    if (!uartOpen_) {
        stats_.droppedHostBytes += length;
        return;
    }
    stats_.bytesToTarget += length;
    if (observer_) observer_(SerialDirection::kToTarget, data, length, now);
    if (endpoint_ != nullptr) endpoint_->OnHostBytes(data, length, now);
    // Its answer may be ready at once: collect it now, so it is on its way
    // before the write returns.
    CollectLocked(now);
}

void SimBridge::CollectLocked(Millis now) {
    if (endpoint_ == nullptr) {
        nextDue_ = lookDue_ = Millis::max();
        return;
    }
    std::vector<uint8_t> bytes;
    const Millis before = lookDue_;
    nextDue_ = endpoint_->CollectTargetBytes(now, bytes);
    if (!uartOpen_) {
        nextDue_ = lookDue_ = Millis::max();
        return;
    }
    lookDue_ = nextDue_;
    if (realTime_ && nextDue_ != Millis::max()) {
        const size_t reportBytes =
            options_.inputReportLength > 3 ? options_.inputReportLength - 3u : 0u;
        lookDue_ = std::max(nextDue_, endpoint_->NextHostVisibleTime(reportBytes));
    }
    if (!bytes.empty()) QueueTargetBytesLocked(bytes, now);
    // A reader asleep until the old due time (or its read's time-out) must
    // look again, or output due earlier waits for it in real time.
    if (lookDue_ < before) changed_.notify_all();
}

bool SimBridge::WaitUntilStoredLocked(Lock& lock) {
    const auto stored = [this] { return delivered_ >= enqueued_ && readerInside_; };
    if (stored()) return true;
    if (!ReaderExpectedLocked()) return false;
    const bool done = changed_.wait_for(lock, options_.handoffCap,
                                        [&] { return stored() || !ReaderExpectedLocked(); });
    if (!done) ++stats_.handoffTimeouts;
    return stored();
}

bool SimBridge::DeliverDue() {
    Lock lock(mutex_);
    if (uartOpen_ && clock_.Now() >= lookDue_) CollectLocked(clock_.Now());
    return WaitUntilStoredLocked(lock);
}

Millis SimBridge::NextDueTime() {
    Lock lock(mutex_);
    return uartOpen_ && plug_.Plugged() ? lookDue_ : Millis::max();
}

// --- SimBridgeClock ---------------------------------------------------------------

void SimBridgeClock::SleepFor(Millis duration) {
    const Millis end = inner_.Now() + std::max(duration, Millis(0));
    for (;;) {
        const Millis now = inner_.Now();
        const Millis due = bridge_.NextDueTime();
        if (due > end) break;
        if (due > now) inner_.SleepFor(due - now);
        bridge_.DeliverDue();
        // An endpoint that keeps naming a time already past would hold us
        // here for ever; go on with the pause instead.
        if (bridge_.NextDueTime() <= inner_.Now()) break;
    }
    const Millis rest = end - inner_.Now();
    if (rest.count() > 0) inner_.SleepFor(rest);
}

bool SimBridgeClock::WaitFor(WakeSignal& signal, Millis timeout) {
    if (signal.Consume()) return true;
    if (realTime_) return inner_.WaitFor(signal, timeout);
    const Millis end = inner_.Now() + std::max(timeout, Millis(0));
    for (;;) {
        const Millis now = inner_.Now();
        const Millis due = bridge_.NextDueTime();
        if (due > end) break;
        if (due > now && inner_.WaitFor(signal, due - now)) return true;
        bridge_.DeliverDue();
        if (signal.Consume()) return true;
        if (bridge_.NextDueTime() <= inner_.Now()) break;
    }
    const Millis rest = end - inner_.Now();
    return inner_.WaitFor(signal, std::max(rest, Millis(0)));
}

}  // namespace farsend::sim

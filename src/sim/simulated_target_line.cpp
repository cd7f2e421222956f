// The simulated target's serial line: bytes on the wire in both directions,
// in time, and the bridge's calls that move them.
#include <algorithm>

#include "sim/simulated_target.h"
#include "sim/target_packets.h"
#include "sim/target_time.h"

namespace farsend::sim {

namespace {

using namespace target_time;

}  // namespace

// --- The bridge's calls -----------------------------------------------------

void SimulatedTarget::OnHostBytes(const uint8_t* data, size_t length, Millis now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Nanos t = ToNanos(now);
    Start(t);
    RunUntil(t);
    if (Unplugged()) return;
    for (size_t i = 0; i < length; ++i) {
        const Nanos start = std::max({t, clock_, to_target_free_});
        to_target_free_ = start + byte_time_;
        // A lost byte still took its time on the line.
        if (inbound_rng_.Chance(options_.faults.drop_ppb)) continue;
        uint8_t value = data[i];
        if (inbound_rng_.Chance(options_.faults.flip_ppb)) {
            value ^= static_cast<uint8_t>(1u << inbound_rng_.Below(8));
        }
        on_wire_to_target_.push_back({to_target_free_, value});
    }
    RunUntil(t);
    FlushLog();
}

Millis SimulatedTarget::CollectTargetBytes(Millis now, std::vector<uint8_t>& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Nanos t = ToNanos(now);
    Start(t);
    RunUntil(t);
    while (!on_wire_to_host_.empty() && on_wire_to_host_.front().at <= t) {
        out.push_back(on_wire_to_host_.front().value);
        on_wire_to_host_.pop_front();
    }
    FlushLog();
    Nanos next = NextEvent();
    if (!on_wire_to_host_.empty()) next = std::min(next, on_wire_to_host_.front().at);
    return ToMillisCeil(next);
}

Millis SimulatedTarget::NextHostVisibleTime(size_t reportBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_) return Millis(0);
    Nanos next = std::min({EndOfFirstOutputRun(reportBytes), CallDue(), next_arrival_, take_out_at_,
                           NextTakeThatMayEmit()});
    // Pulling the plug is seen by the host at once; falling silent ends the
    // calls a waiting host counts on. Both happen on the arrival of a byte.
    const auto& unplug = options_.faults.unplug_after;
    if (unplug && !Unplugged()) next = std::min(next, ArrivalOfReceivedCount(*unplug));
    const auto& silence = options_.faults.silence_after;
    if (silence && !Silenced()) next = std::min(next, ArrivalOfReceivedCount(*silence));
    return ToMillisCeil(next);
}

void SimulatedTarget::OnBridgeOpened(Millis now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Nanos t = ToNanos(now);
    Start(t);
    RunUntil(t);
    bridge_open_ = true;
    on_wire_to_host_.clear();
    if (phase_ == Phase::Calling) next_call_ = NextCallAtOrAfter(std::max(t, clock_));
    FlushLog();
}

void SimulatedTarget::OnBridgeClosed(Millis now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Nanos t = ToNanos(now);
    Start(t);
    // What the host wrote before closing is on the line and still arrives (a
    // StartApplication sent just before the close must not be lost).
    RunUntil(std::max(t, to_target_free_));
    bridge_open_ = false;
    on_wire_to_host_.clear();
    received_.clear();
    ForgetSession();
    if (phase_ == Phase::Ready) {
        phase_ = Phase::Calling;
        // Let go in its bootloader: the operator sees the failure and takes
        // the board out, unless the host takes it again first.
        if (options_.swap && take_out_at_ == kNever) {
            take_out_at_ = std::max(t, clock_) + Nanos{options_.swap->after_ms} * kNanosPerMilli;
        }
    }
    FlushLog();
}

// --- The model --------------------------------------------------------------

// The first target is there from the first moment the model hears of.
void SimulatedTarget::Start(Nanos now) {
    if (started_) return;
    started_ = true;
    clock_ = now;
    busy_until_ = now;
    to_target_free_ = now;
    to_host_free_ = now;
    if (options_.targets > 0) next_arrival_ = now;
}

SimulatedTarget::Nanos SimulatedTarget::NextEvent() const {
    Nanos next = kNever;
    if (!on_wire_to_target_.empty()) next = std::min(next, on_wire_to_target_.front().at);
    next = std::min({next, next_arrival_, take_out_at_});
    if (!received_.empty()) next = std::min(next, std::max(received_.front().at, busy_until_));
    next = std::min(next, CallDue());
    return next;
}

// Received bytes are taken in order, none before busy_until_. Within a block
// only the one that completes it can make output; outside one, any byte may
// complete a command.
SimulatedTarget::Nanos SimulatedTarget::NextTakeThatMayEmit() const {
    if (phase_ == Phase::NoTarget) return kNever;
    size_t skip = 0;
    if (block_expected_ && block_.size() < packets::kBlockLength) {
        skip = packets::kBlockLength - block_.size() - 1;
    }
    const size_t pending = received_.size() + on_wire_to_target_.size();
    if (skip >= pending) return kNever;
    const Nanos at = skip < received_.size() ? received_[skip].at
                                             : on_wire_to_target_[skip - received_.size()].at;
    return std::max(at, busy_until_);
}

// When the byte that brings the received count to `count` arrives.
SimulatedTarget::Nanos SimulatedTarget::ArrivalOfReceivedCount(uint64_t count) const {
    if (count <= bytes_received_) return clock_;
    const uint64_t ahead = count - bytes_received_ - 1;
    if (ahead >= on_wire_to_target_.size()) return kNever;
    return on_wire_to_target_[static_cast<size_t>(ahead)].at;
}

// The bytes on the line to the host arrive back to back while the target
// sends without a pause; a look when such a run ends, or when it has filled
// a report, hears it whole.
SimulatedTarget::Nanos SimulatedTarget::EndOfFirstOutputRun(size_t reportBytes) const {
    if (on_wire_to_host_.empty()) return kNever;
    const size_t limit = std::max<size_t>(reportBytes, 1);
    size_t last = 0;
    while (last + 1 < on_wire_to_host_.size() && last + 1 < limit &&
           on_wire_to_host_[last + 1].at - on_wire_to_host_[last].at <= byte_time_) {
        ++last;
    }
    return on_wire_to_host_[last].at;
}

// Runs every event due by `limit`, in time order. At equal times a byte
// arrives before the target acts on it, and the target acts on received bytes
// before it calls, so an Ack taken at the moment of a call stops that call.
void SimulatedTarget::RunUntil(Nanos limit) {
    for (;;) {
        const Nanos arrive = on_wire_to_target_.empty() ? kNever : on_wire_to_target_.front().at;
        const Nanos take = received_.empty() ? kNever : std::max(received_.front().at, busy_until_);
        const Nanos call = CallDue();
        const Nanos next = std::min({arrive, next_arrival_, take_out_at_, take, call});
        if (next == kNever || next > limit) return;
        clock_ = std::max(clock_, next);
        if (arrive == next) {
            ByteArrives();
        } else if (take_out_at_ == next) {
            TakeOut();
        } else if (next_arrival_ == next) {
            TargetArrives();
        } else if (take == next) {
            const uint8_t byte = received_.front().value;
            received_.pop_front();
            TakeByte(byte);
        } else {
            static constexpr auto kCall = packets::Status(packets::kStatusCall);
            Emit(kCall, next_call_);
            next_call_ += kCallInterval.count() * kNanosPerMilli;
        }
    }
}

void SimulatedTarget::ByteArrives() {
    const TimedByte byte = on_wire_to_target_.front();
    on_wire_to_target_.pop_front();
    ++bytes_received_;
    if (serial_log_ != nullptr) {
        std::fputc(byte.value, serial_log_);
        log_dirty_ = true;
    }
    const auto& unplug = options_.faults.unplug_after;
    if (unplug && bytes_received_ >= *unplug) plug_->Unplug();
    received_.push_back(byte);
}

void SimulatedTarget::Emit(const uint8_t* bytes, size_t length, Nanos ready) {
    if (!bridge_open_ || Silenced() || Unplugged()) return;
    const FaultPlan& faults = options_.faults;
    std::vector<uint8_t> line;
    if (outbound_rng_.Chance(faults.noise_ppb)) {
        const uint32_t count = 1 + outbound_rng_.Below(8);
        for (uint32_t i = 0; i < count; ++i) {
            line.push_back(static_cast<uint8_t>(outbound_rng_.Next() >> 56));
        }
    }
    line.insert(line.end(), bytes, bytes + length);
    for (uint8_t value : line) {
        const Nanos start = std::max(ready, to_host_free_);
        to_host_free_ = start + byte_time_;
        if (outbound_rng_.Chance(faults.drop_ppb)) continue;
        if (outbound_rng_.Chance(faults.flip_ppb)) {
            value ^= static_cast<uint8_t>(1u << outbound_rng_.Below(8));
        }
        on_wire_to_host_.push_back({to_host_free_, value});
    }
}

SimulatedTarget::Nanos SimulatedTarget::NextCallAtOrAfter(Nanos t) const {
    if (t <= call_origin_) return call_origin_;
    const Nanos interval = kCallInterval.count() * kNanosPerMilli;
    return call_origin_ + (t - call_origin_ + interval - 1) / interval * interval;
}

}  // namespace farsend::sim

#include "sim/simulated_target.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "common/record_file.h"
#include "sim/sim_bridge.h"
#include "sim/target_packets.h"

namespace farsend::sim {

namespace {

using Nanos = int64_t;
constexpr Nanos kNever = std::numeric_limits<Nanos>::max();
constexpr Nanos kNanosPerMilli = 1000000;

Nanos ToNanos(Millis t) {
    // Millis::max() and the like would overflow; nothing happens that late.
    constexpr int64_t kLimit = std::numeric_limits<Nanos>::max() / kNanosPerMilli - 1;
    return std::min<int64_t>(std::max<int64_t>(t.count(), 0), kLimit) * kNanosPerMilli;
}

// The first whole millisecond at or after `t`: the bridge must not look
// before then, and need not look later.
Millis ToMillisCeil(Nanos t) {
    if (t == kNever) return Millis::max();
    return Millis((t + kNanosPerMilli - 1) / kNanosPerMilli);
}

FaultRng DerivedRng(uint64_t seed, int stream) {
    FaultRng seeder(seed);
    uint64_t value = seeder.Next();
    for (int i = 0; i < stream; ++i) value = seeder.Next();
    return FaultRng(value);
}

bool IsCommand(const std::vector<uint8_t>& p) {
    if (p[0] != packets::kCommandLead || p[2] != packets::kCommandFixed) return false;
    if (p[3] != static_cast<uint8_t>(p[0] ^ p[1] ^ p[2])) return false;
    const auto& codes = packets::kCommandCodes;
    return std::find(codes.begin(), codes.end(), p[1]) != codes.end();
}

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

}  // namespace

SimulatedTarget::SimulatedTarget(const SimOptions& options, PlugState* plug)
    : options_(options),
      plug_(plug != nullptr ? plug : &own_plug_),
      byte_time_(options.baud == 0 ? 0
                                   : (int64_t{kBitsPerSerialByte} * 1000000000 + options.baud - 1) /
                                         options.baud),
      erase_time_(options.baud == 0 ? 0 : Nanos{kEraseTimePerBlock.count()} * 1000),
      write_time_(options.baud == 0 ? 0 : Nanos{kWriteTimePerBlock.count()} * 1000),
      inbound_rng_(DerivedRng(options.seed, 0)),
      outbound_rng_(DerivedRng(options.seed, 1)),
      next_arrival_(kNever),
      take_out_at_(kNever) {
    if (!options_.flash_dir.empty()) {
        mirror_ = std::make_unique<FlashMirror>(options_.flash_dir,
                                                SimBridge::LocationOf(options_.bridge_number));
    }
}

SimulatedTarget::~SimulatedTarget() {
    if (serial_log_ != nullptr) std::fclose(serial_log_);
}

bool SimulatedTarget::OpenSerialLog(const std::string& path, std::string& error) {
    std::FILE* file = OpenRecordFile(path, "wb");
    if (file == nullptr) {
        error = "cannot create the serial log " + path + ": " + std::strerror(errno);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (serial_log_ != nullptr) std::fclose(serial_log_);
    serial_log_ = file;
    return true;
}

bool SimulatedTarget::WriteFlashOut(const std::string& path, std::string& error) const {
    FlashPages flash;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        flash = flash_;
    }
    return WriteFlashFile(path, flash, error);
}

bool SimulatedTarget::FlashDirOk(std::string& error) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mirror_ == nullptr || mirror_->Ok(error);
}

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

// --- Observations -----------------------------------------------------------

FlashContents SimulatedTarget::Flash() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_.Contents();
}
uint32_t SimulatedTarget::TargetsArrived() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_arrived_;
}
bool SimulatedTarget::CanStillCall() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Unplugged() || Silenced()) return false;
    if (!started_) return options_.targets > 0;
    return phase_ != Phase::NoTarget || next_arrival_ != kNever;
}
uint32_t SimulatedTarget::BoardsTakenOut() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_out_;
}
uint32_t SimulatedTarget::TargetsProgrammed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_programmed_;
}
uint32_t SimulatedTarget::BlocksAccepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_accepted_;
}
uint32_t SimulatedTarget::BlocksRefused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_refused_;
}
uint64_t SimulatedTarget::BytesReceived() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_received_;
}
std::vector<ReceivedCommand> SimulatedTarget::Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
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

void SimulatedTarget::TakeOut() {
    take_out_at_ = kNever;
    ++taken_out_;
    swapped_ = true;
    Leave();
    if (next_arrival_ != kNever) next_arrival_ = clock_ + kSwapInDelay.count() * kNanosPerMilli;
}

void SimulatedTarget::TargetArrives() {
    next_arrival_ = kNever;
    ++targets_arrived_;
    phase_ = Phase::Calling;
    ForgetSession();
    flash_.Clear();
    if (mirror_) mirror_->TargetArrived(targets_arrived_);
    busy_until_ = clock_;
    call_origin_ = clock_;
    next_call_ = clock_;
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

void SimulatedTarget::TakeByte(uint8_t byte) {
    if (phase_ == Phase::NoTarget) return;
    if (block_expected_) {
        block_.push_back(byte);
        if (block_.size() == packets::kBlockLength) FinishBlock();
        return;
    }
    if (command_.empty() && byte != packets::kCommandLead) return;
    command_.push_back(byte);
    if (command_.size() < 4) return;
    if (IsCommand(command_)) {
        const uint8_t code = command_[1];
        command_.clear();
        HandleCommand(code);
        return;
    }
    // Not a command: look for the next lead byte behind the first one.
    command_.erase(command_.begin());
    while (!command_.empty() && command_.front() != packets::kCommandLead) {
        command_.erase(command_.begin());
    }
}

void SimulatedTarget::HandleCommand(uint8_t code) {
    using namespace packets;
    const bool handled = phase_ == Phase::Ready || code == kAck;
    commands_.push_back({code, targets_arrived_, handled});
    if (!handled) return;
    switch (code) {
        case kAck:
            phase_ = Phase::Ready;
            // Answered again: the operator waits for this run's result.
            take_out_at_ = kNever;
            Emit(Acknowledgement(kAck), clock_);
            break;
        case kQueryVariant:
            EmitReply(code, swapped_ && options_.swap && !options_.swap->next_variant.empty()
                                ? options_.swap->next_variant
                                : options_.variant);
            Emit(Status(kStatusDone), clock_);
            break;
        case kQueryVersion:
            EmitReply(code, options_.version);
            Emit(Status(kStatusDone), clock_);
            break;
        case kEraseDefault:
        case kEraseAll:
            program_mode_ = 0;
            EraseWithProgress(Acknowledgement(code), Status(kStatusDone));
            break;
        case kProgramApplication:
        case kProgramBootloaderAndApplication:
            program_mode_ = code;
            EraseWithProgress(Acknowledgement(code), Acknowledgement(code));
            break;
        case kBlockFollows:
            if (program_mode_ == 0) {
                Emit(Status(kStatusE0), clock_);
                break;
            }
            Emit(Acknowledgement(program_mode_), clock_);
            block_expected_ = true;
            block_.clear();
            break;
        case kEndOfData:
            Emit(Status(kStatusDone), clock_);
            if (program_mode_ != 0) ++targets_programmed_;
            Leave();
            break;
        case kAbort:
            program_mode_ = 0;
            Emit(Acknowledgement(kAbort), clock_);
            break;
        case kStartApplication:
            Emit(Acknowledgement(kStartApplication), clock_);
            Leave();
            break;
        default:
            break;
    }
}

void SimulatedTarget::EraseWithProgress(const std::array<uint8_t, 4>& first,
                                        const std::array<uint8_t, 4>& last) {
    static constexpr auto kBlockErased = packets::Status(packets::kStatusBlockErased);
    flash_.Clear();
    if (mirror_) mirror_->Erased();
    Emit(first, clock_);
    Nanos t = clock_;
    for (uint32_t i = 0; i < options_.erase_blocks; ++i) {
        t += erase_time_;
        Emit(kBlockErased, t);
    }
    Emit(last, t);
    busy_until_ = t;
}

void SimulatedTarget::FinishBlock() {
    block_expected_ = false;
    const uint32_t base = ReadLe32(block_, 0);
    const uint32_t check = ReadLe32(block_, 4);
    const uint32_t count = ReadLe32(block_, packets::kBlockCountOffset);
    bool accepted = count <= packets::kBlockDataLength;
    if (accepted) {
        uint32_t sum = 0;
        for (uint32_t i = 0; i < count; ++i) sum ^= block_[packets::kBlockDataOffset + i];
        accepted = check == (base ^ sum);
    }
    if (!accepted) {
        ++blocks_refused_;
        Emit(packets::Status(packets::kStatusE0), clock_);
        return;
    }
    ++blocks_accepted_;
    for (uint32_t i = 0; i < count; ++i) {
        // Addresses are 32-bit and wrap, like the block's own fields.
        flash_.Write(base + i, block_[packets::kBlockDataOffset + i]);
    }
    if (mirror_) mirror_->Programmed(base, &block_[packets::kBlockDataOffset], count, flash_);
    busy_until_ = clock_ + write_time_;
    Emit(packets::Acknowledgement(program_mode_), busy_until_);
}

void SimulatedTarget::Leave() {
    phase_ = Phase::NoTarget;
    take_out_at_ = kNever;
    ForgetSession();
    if (targets_arrived_ < options_.targets) {
        next_arrival_ = clock_ + kNextTargetDelay.count() * kNanosPerMilli;
    }
}

void SimulatedTarget::ForgetSession() {
    program_mode_ = 0;
    block_expected_ = false;
    block_.clear();
    command_.clear();
}

// A call is due only when somebody can hear it: a target that has fallen
// silent or lost its bridge does not wake the bridge every 50 ms.
SimulatedTarget::Nanos SimulatedTarget::CallDue() const {
    if (!bridge_open_ || phase_ != Phase::Calling || Silenced() || Unplugged()) return kNever;
    return next_call_;
}

bool SimulatedTarget::Silenced() const {
    const auto& silence = options_.faults.silence_after;
    return silence && bytes_received_ >= *silence;
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

void SimulatedTarget::EmitReply(uint8_t query, const std::string& text) {
    std::array<uint8_t, packets::kReplyLength> reply{};
    reply[0] = packets::kResponseLead;
    reply[1] = query;
    reply[2] = packets::kAckMarker;
    const size_t n = std::min(text.size(), packets::kReplyTextLength);
    for (size_t i = 0; i < n; ++i) reply[3 + i] = static_cast<uint8_t>(text[i]);
    uint8_t check = 0;
    for (size_t i = 0; i + 1 < reply.size(); ++i) check ^= reply[i];
    reply[reply.size() - 1] = check;
    Emit(reply, clock_);
}

SimulatedTarget::Nanos SimulatedTarget::NextCallAtOrAfter(Nanos t) const {
    if (t <= call_origin_) return call_origin_;
    const Nanos interval = kCallInterval.count() * kNanosPerMilli;
    return call_origin_ + (t - call_origin_ + interval - 1) / interval * interval;
}

void SimulatedTarget::FlushLog() {
    if (log_dirty_) {
        std::fflush(serial_log_);
        log_dirty_ = false;
    }
}

}  // namespace farsend::sim

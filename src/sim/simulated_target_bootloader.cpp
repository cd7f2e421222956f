// The simulated target's bootloader: the commands it takes, the blocks it
// programs, its answers, and targets coming and going.
#include <algorithm>

#include "sim/simulated_target.h"
#include "sim/target_packets.h"
#include "sim/target_time.h"

namespace farsend::sim {

namespace {

using namespace target_time;

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

}  // namespace farsend::sim

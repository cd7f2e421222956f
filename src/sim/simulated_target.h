// A simulated target: the bootloader at the far end of the simulated bridge's
// serial line, and the line itself (its speed and its faults).
//
// Everything is computed from the `now` values the bridge passes in; the model
// keeps no clock of its own, so tests drive it in virtual time. Internally time
// is counted in nanoseconds, because at useful line speeds a byte takes a small
// fraction of a millisecond.
//
// The bootloader:
// - While in its bootloader and not acknowledged it sends TargetCall every
//   50 ms (from the moment it arrived), as long as the bridge is open.
// - Ack gets TargetAck; every other command before that is ignored.
// - Queries get their 28-byte reply, then Done. Erases get their
//   acknowledgement, N BlockErased and Done; programming commands get their
//   acknowledgement, N BlockErased and the acknowledgement again. Both erase
//   the whole (simulated) flash: the model has no bootloader image to keep.
// - BlockFollows gets the acknowledgement of the running programming command,
//   then the next 268 bytes are the block. A block whose count is at most 256
//   and whose check holds is stored and acknowledged again; any other gets
//   StatusE0. BlockFollows outside a programming run gets StatusE0 and no
//   block is expected.
// - EndOfData gets Done, StartApplication gets StartApplicationAck; either way
//   the target starts its application and leaves. When more targets are due,
//   the next one arrives kNextTargetDelay later with an empty flash.
// - Abort gets AbortAck and ends the programming run.
// - Closing the bridge makes the target forget the handshake (and any
//   programming run); a target still in its bootloader calls again once the
//   bridge is open again. Bytes the host wrote before closing still arrive
//   and are acted on (a StartApplication right before the close counts);
//   only those still waiting for a busy flash are lost with the session.
// - With --sim-swap, a board the host lets go (closes the bridge) while it is
//   acknowledged and still in its bootloader (its run failed) is taken out
//   of its socket the swap's time later, unless the host answered its call
//   again meanwhile; out of the socket it neither calls nor listens. The next
//   target, if one is due, arrives kSwapInDelay after that. Without it a
//   board that failed stays and calls for ever.
// - Command bytes are found by their lead byte 0x9C; anything else is skipped.
//   Four bytes that start with 0x9C but are no valid command (wrong check,
//   unknown code, byte 2 not 0xFD) are treated as noise: the target drops the
//   first byte and looks for the next 0x9C in the rest, so that a real command
//   hidden behind a stray 0x9C is still found.
// - The target's output while the bridge is closed is lost, as nobody listens.
//
// The line (only when --sim-baud is not 0): every byte takes 10 bits in each
// direction; erasing takes kEraseTimePerBlock per BlockErased and storing a
// block kWriteTimePerBlock. Commands that arrive while the flash is busy wait
// until it is done. With --sim-baud=0 everything is instant.
//
// Faults are drawn from two SplitMix64 streams seeded by --sim-seed, one per
// direction, so the same seed and the same host bytes give the same faults
// whatever the threads do. silence and unplug count every byte that reached
// the target's end of the line: exactly the bytes of the serial log.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/fault_rng.h"
#include "sim/flash_file.h"
#include "sim/flash_mirror.h"
#include "sim/plug_state.h"
#include "sim/serial_endpoint.h"
#include "sim/sim_options.h"

namespace farsend::sim {

// The target's timing. A wire bound for a programming run follows from these
// and the line speed: 10 bits per byte each way, kEraseTimePerBlock for each
// BlockErased, kWriteTimePerBlock per block.
constexpr Millis kCallInterval{50};
constexpr Millis kNextTargetDelay{500};
// After a failed board is taken out (--sim-swap), the hand that puts the next
// one in: well over the silence a station takes for a board that is out.
constexpr Millis kSwapInDelay{1500};
constexpr std::chrono::microseconds kEraseTimePerBlock{20000};
constexpr std::chrono::microseconds kWriteTimePerBlock{2000};
constexpr int kBitsPerSerialByte = 10;

struct ReceivedCommand {
    uint8_t code = 0;      // byte 1 of the command
    uint32_t target = 0;   // which target took it, counting from 1
    bool handled = false;  // false: ignored because the handshake had not happened
    bool operator==(const ReceivedCommand& o) const {
        return code == o.code && target == o.target && handled == o.handled;
    }
};

class SimulatedTarget final : public SerialEndpoint {
public:
    // `plug` is shared with the simulated bridge; the unplug fault pulls it.
    // Without one the target keeps its own (see Unplugged()).
    explicit SimulatedTarget(const SimOptions& options, PlugState* plug = nullptr);
    ~SimulatedTarget() override;
    SimulatedTarget(const SimulatedTarget&) = delete;
    SimulatedTarget& operator=(const SimulatedTarget&) = delete;

    // Starts writing every received byte to `path` (raw, in order).
    bool OpenSerialLog(const std::string& path, std::string& error);
    // Writes the most recent target's flash as a firmware file.
    bool WriteFlashOut(const std::string& path, std::string& error) const;
    // With --sim-flash-dir: false once a target's flash file could not be
    // written, and `error` says why.
    bool FlashDirOk(std::string& error) const;

    void OnHostBytes(const uint8_t* data, size_t length, Millis now) override;
    Millis CollectTargetBytes(Millis now, std::vector<uint8_t>& out) override;
    Millis NextHostVisibleTime(size_t reportBytes) override;
    void OnBridgeOpened(Millis now) override;
    void OnBridgeClosed(Millis now) override;

    // What happened, for tests and for the composition's exit report.
    FlashContents Flash() const;  // the most recent target's flash
    uint32_t TargetsArrived() const;
    uint32_t TargetsProgrammed() const;  // left through EndOfData after a programming command
    uint32_t BlocksAccepted() const;
    uint32_t BlocksRefused() const;
    uint64_t BytesReceived() const;
    std::vector<ReceivedCommand> Commands() const;
    bool Unplugged() const { return !plug_->Plugged(); }
    // Whether a target can still be heard calling: one is here or due, the
    // bridge is plugged in and the line has not fallen silent. Once false it
    // stays false: a host waiting for a call would wait for ever.
    bool CanStillCall() const;
    // Whether a board left in the socket after a failed run is ever taken
    // out (--sim-swap).
    bool TakesOutFailedBoards() const { return options_.swap.has_value(); }
    uint32_t BoardsTakenOut() const;

private:
    using Nanos = int64_t;
    struct TimedByte {
        Nanos at;
        uint8_t value;
    };
    enum class Phase { NoTarget, Calling, Ready };

    void Start(Nanos now);
    void RunUntil(Nanos limit);
    Nanos NextEvent() const;
    Nanos NextTakeThatMayEmit() const;
    Nanos ArrivalOfReceivedCount(uint64_t count) const;
    Nanos EndOfFirstOutputRun(size_t reportBytes) const;
    void TargetArrives();
    void ByteArrives();
    void TakeByte(uint8_t byte);
    void HandleCommand(uint8_t code);
    void FinishBlock();
    void Leave();
    void TakeOut();
    void ForgetSession();
    void Emit(const uint8_t* bytes, size_t length, Nanos ready);
    template <size_t N>
    void Emit(const std::array<uint8_t, N>& packet, Nanos ready) {
        Emit(packet.data(), N, ready);
    }
    void EmitReply(uint8_t query, const std::string& text);
    void EraseWithProgress(const std::array<uint8_t, 4>& first, const std::array<uint8_t, 4>& last);
    Nanos NextCallAtOrAfter(Nanos t) const;
    Nanos CallDue() const;
    bool Silenced() const;
    void FlushLog();

    const SimOptions options_;
    PlugState own_plug_;
    PlugState* const plug_;
    const Nanos byte_time_;
    const Nanos erase_time_;
    const Nanos write_time_;

    mutable std::mutex mutex_;
    FaultRng inbound_rng_;
    FaultRng outbound_rng_;
    bool started_ = false;
    Nanos clock_ = 0;  // time up to which the model has run
    bool bridge_open_ = false;

    Phase phase_ = Phase::NoTarget;
    uint8_t program_mode_ = 0;  // the running programming command, 0 when none
    bool block_expected_ = false;
    std::vector<uint8_t> command_;  // up to 4 bytes beginning with 0x9C
    std::vector<uint8_t> block_;
    FlashPages flash_;
    std::unique_ptr<FlashMirror> mirror_;  // only with --sim-flash-dir
    Nanos busy_until_ = 0;
    Nanos call_origin_ = 0;
    Nanos next_call_ = 0;
    Nanos next_arrival_;
    Nanos take_out_at_;     // --sim-swap: when the failed board goes
    bool swapped_ = false;  // a board has been taken out: the next reports the swap's variant
    uint32_t taken_out_ = 0;

    std::deque<TimedByte> on_wire_to_target_;  // sent by the host, not yet arrived
    std::deque<TimedByte> received_;           // arrived, not yet taken by the target
    std::deque<TimedByte> on_wire_to_host_;    // sent by the target, by arrival time
    Nanos to_target_free_ = 0;                 // when the host-to-target line is free
    Nanos to_host_free_ = 0;

    uint32_t targets_arrived_ = 0;
    uint32_t targets_programmed_ = 0;
    uint32_t blocks_accepted_ = 0;
    uint32_t blocks_refused_ = 0;
    uint64_t bytes_received_ = 0;
    std::vector<ReceivedCommand> commands_;
    std::FILE* serial_log_ = nullptr;
    bool log_dirty_ = false;
};

}  // namespace farsend::sim

// What the bootloader exchanges work on and the primitives they are built
// from: opening and closing the link, sending a command or a block, and the
// two ways of receiving an answer. Their results: protocol/exchange_result.h.
//
// Every exchange and every primitive holds the context's lock while it
// talks, so that the bytes of two exchanges from two threads (the monitor
// validating, the user-interface thread launching the application) never
// interleave. The lock is recursive because exchanges are built from the
// primitives. Nothing that holds it calls out of the protocol layer but to
// the link and the diagnostic lines (no user interface, no waiting for
// another thread), so it cannot take part in a deadlock; the longest hold is
// a handshake, which can be cancelled.
// Sequences of exchanges (a programming run) are still kept apart by their
// callers: the monitor is suspended while a job runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "common/clock.h"
#include "link/hid_serial_link.h"
#include "protocol/exchange_result.h"
#include "protocol/flash_block.h"
#include "protocol/packets.h"

namespace farsend::protocol {

// ReceiveWithDeadline gives up once the whole seconds elapsed exceed this,
// that is at 13 seconds.
constexpr int64_t kDeadlineWholeSeconds = 12;
// ReceiveWithRetries tolerates this many empty polls per packet, with a
// pause after each.
constexpr int kMaxEmptyPolls = 11;
constexpr Millis kEmptyPollPause{1};
// The largest command SendCommand packs.
constexpr size_t kMaxCommandBytes = 256;

// How the latest receive ended: whole, with nothing heard before it gave
// up, or with bytes that never made a whole answer. A front end tells a
// target that fell silent from a line that garbles by it.
enum class ReceiveEnd : int { Complete, NothingHeard, Incomplete };

// The link the exchanges talk over and the two query reply arrays, which
// outlive a query so that callers can look at the last reply. Time comes
// from the link's clock: the deadline must be measured on the same time line
// on which the link sleeps and is woken, or a simulated target in virtual
// time would never be heard.
class ExchangeContext {
public:
    explicit ExchangeContext(link::HidSerialLink& link) : link_(link) {}
    ExchangeContext(const ExchangeContext&) = delete;
    ExchangeContext& operator=(const ExchangeContext&) = delete;

    link::HidSerialLink& Link() { return link_; }
    // The link's clock as it is now (it may be set after this context).
    Clock& Time() { return link::HidLinkClock(link_); }
    // Held by each exchange for its duration.
    std::recursive_mutex& Mutex() { return mutex_; }
    // Wakes a receive of this context that sleeps for input, so that it
    // looks at its cancel flag again. A receive not cancelled just waits on.
    void WakeReceiver() { link_.readable.Notify(); }

    LongResponsePacket variantReply{};
    LongResponsePacket versionReply{};
    std::atomic<ReceiveEnd> lastReceive{ReceiveEnd::Complete};

private:
    link::HidSerialLink& link_;
    std::recursive_mutex mutex_;
};

// The hold of one exchange on its context.
using ExchangeLock = std::lock_guard<std::recursive_mutex>;

// HidLinkOpen with its result mapped: 0 -> 0, -3 -> 2, -2 -> 3, other -> 1.
ExchangeResult OpenLink(ExchangeContext& context);
// The close feature, then the link's close; harmless on a closed link.
// Always 0.
ExchangeResult CloseLink(ExchangeContext& context);

// Sends the low byte of each of `count` elements as one write. A failed write
// is not reported (it shows as a missing answer), so the result is 0, except
// for a count beyond 256 or missing elements: then nothing is sent and the
// result is 2.
ExchangeResult SendCommand(ExchangeContext& context, const uint32_t* elements, size_t count);
ExchangeResult SendCommand(ExchangeContext& context, Command command);

// Writes the block's 268-byte wire form. 2 when the write failed, else 0.
ExchangeResult SendBlockBytes(ExchangeContext& context, const FlashBlock& block);

// Both receive `n` bytes into `elements`, one zero-extended byte per
// element. Bytes are dropped until a 0x8C comes; after it the next n-1 bytes
// are taken as they are. Neither zeroes the array: the exchanges do that
// before each receive, so that a receive that ends early classifies as
// Invalid.
//
// ReceiveWithDeadline: up to 13 seconds of wall time (3 after that, else 0).
// It sleeps until the link has input and takes an answer as soon as it is
// stored. With `cancel`, it also gives up (3) as soon as the flag is seen
// set: it looks before every poll, and a canceller that sets the flag and
// then calls context.WakeReceiver() ends a sleeping wait at once. Both give
// up (3) as soon as the bridge is gone and its last input has been read.
ExchangeResult ReceiveWithDeadline(ExchangeContext& context, uint32_t* elements, size_t n,
                                   const std::atomic<bool>* cancel = nullptr);
// The same with the 13 seconds counted from `start` (a time of the link's
// clock), for a wait that spans several packets.
ExchangeResult ReceiveWithDeadlineFrom(ExchangeContext& context, uint32_t* elements, size_t n,
                                       Millis start, const std::atomic<bool>* cancel = nullptr);
// ReceiveWithRetries: for answers that follow a command at once; 3 after the
// twelfth empty poll of the packet (eleven 1 ms pauses in all), else 0.
ExchangeResult ReceiveWithRetries(ExchangeContext& context, uint32_t* elements, size_t n);

template <size_t N>
ExchangeResult ReceiveWithDeadline(ExchangeContext& context, ResponsePacket<N>& packet,
                                   const std::atomic<bool>* cancel = nullptr) {
    return ReceiveWithDeadline(context, packet.data(), N, cancel);
}
template <size_t N>
ExchangeResult ReceiveWithDeadlineFrom(ExchangeContext& context, ResponsePacket<N>& packet,
                                       Millis start, const std::atomic<bool>* cancel = nullptr) {
    return ReceiveWithDeadlineFrom(context, packet.data(), N, start, cancel);
}
template <size_t N>
ExchangeResult ReceiveWithRetries(ExchangeContext& context, ResponsePacket<N>& packet) {
    return ReceiveWithRetries(context, packet.data(), N);
}

}  // namespace farsend::protocol

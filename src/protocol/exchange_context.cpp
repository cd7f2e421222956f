#include "protocol/exchange_context.h"

#include <cstring>

namespace farsend::protocol {

namespace {

constexpr Millis kDeadline{(kDeadlineWholeSeconds + 1) * 1000};

// Stores one received byte; returns the next position. Only the first
// element is looked at: until it holds a lead byte, every byte is dropped.
size_t StoreByte(uint32_t* elements, size_t at, uint8_t byte) {
    elements[at] = byte;
    return elements[0] == kResponseLeadByte ? at + 1 : 0;
}

}  // namespace

int OpenLink(ExchangeContext& context) {
    const ExchangeLock lock(context.Mutex());
    switch (link::HidLinkOpen(context.Link())) {
        case 0:
            return kExchangeOk;
        case -3:
            return kWriteFailed;
        case -2:
            return kTimedOut;
        default:
            return kOpenFailed;
    }
}

int CloseLink(ExchangeContext& context) {
    const ExchangeLock lock(context.Mutex());
    link::HidLinkSendCloseFeature(context.Link());
    link::HidLinkClose(context.Link());
    return kExchangeOk;
}

int SendCommand(ExchangeContext& context, const uint32_t* elements, size_t count) {
    if (count > kMaxCommandBytes || (elements == nullptr && count > 0)) return kWriteFailed;
    uint8_t bytes[kMaxCommandBytes];
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(elements[i] & 0xFF);
    const ExchangeLock lock(context.Mutex());
    link::HidLinkWrite(context.Link(), bytes, static_cast<int16_t>(count));
    return kExchangeOk;
}

int SendCommand(ExchangeContext& context, Command command) {
    const CommandPacket& packet = GetCommandPacket(command);
    return SendCommand(context, packet.data(), packet.size());
}

int SendBlockBytes(ExchangeContext& context, const FlashBlock& block) {
    const FlashBlockBytes bytes = SerializeFlashBlock(block);
    const ExchangeLock lock(context.Mutex());
    const int16_t written =
        link::HidLinkWrite(context.Link(), bytes.data(), static_cast<int16_t>(bytes.size()));
    return written == 0 ? kExchangeOk : kWriteFailed;
}

int ReceiveWithDeadline(ExchangeContext& context, uint32_t* elements, size_t n,
                        const std::atomic<bool>* cancel) {
    return ReceiveWithDeadlineFrom(context, elements, n, context.Time().Now(), cancel);
}

int ReceiveWithDeadlineFrom(ExchangeContext& context, uint32_t* elements, size_t n, Millis start,
                            const std::atomic<bool>* cancel) {
    const ExchangeLock lock(context.Mutex());
    link::HidSerialLink& link = context.Link();
    Clock& clock = context.Time();
    size_t at = 0;
    bool heard = false;
    auto gaveUp = [&] {
        context.lastReceive = heard ? ReceiveEnd::Incomplete : ReceiveEnd::NothingHeard;
        return kTimedOut;
    };
    while (at < n) {
        if (cancel != nullptr && cancel->load()) return gaveUp();
        const Millis elapsed = clock.Now() - start;
        if (elapsed.count() / 1000 > kDeadlineWholeSeconds) return gaveUp();
        uint8_t byte = 0;
        if (link::HidLinkReadByte(link, &byte) != 0) {
            // Everything that came before the unplug has been read; no more
            // will come, so waiting out the deadline would only hold up the
            // report that the bridge is gone.
            if (link::HidLinkBridgeGone(link)) return gaveUp();
            // Nothing now: sleep until the reader stores input or the
            // deadline comes, then look again (a wake-up may bring a report
            // without a byte for us, so the loop decides, not the wait).
            link::HidLinkWaitReadable(link, kDeadline - elapsed, cancel);
            continue;
        }
        heard = true;
        at = StoreByte(elements, at, byte);
    }
    context.lastReceive = ReceiveEnd::Complete;
    return kExchangeOk;
}

int ReceiveWithRetries(ExchangeContext& context, uint32_t* elements, size_t n) {
    const ExchangeLock lock(context.Mutex());
    link::HidSerialLink& link = context.Link();
    Clock& clock = context.Time();
    int emptyPolls = 0;
    size_t at = 0;
    bool heard = false;
    while (at < n) {
        uint8_t byte = 0;
        if (link::HidLinkReadByte(link, &byte) != 0) {
            if (emptyPolls >= kMaxEmptyPolls || link::HidLinkBridgeGone(link)) {
                context.lastReceive = heard ? ReceiveEnd::Incomplete : ReceiveEnd::NothingHeard;
                return kTimedOut;
            }
            clock.SleepFor(kEmptyPollPause);
            ++emptyPolls;
            continue;
        }
        heard = true;
        at = StoreByte(elements, at, byte);
    }
    context.lastReceive = ReceiveEnd::Complete;
    return kExchangeOk;
}

}  // namespace farsend::protocol

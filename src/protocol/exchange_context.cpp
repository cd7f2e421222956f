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

ExchangeResult OpenLink(ExchangeContext& context) {
    const ExchangeLock lock(context.Mutex());
    switch (link::HidLinkOpen(context.Link())) {
        case link::LinkResult::Ok:
            return ExchangeResult::Ok;
        case link::LinkResult::ReportFailed:
            return ExchangeResult::WriteFailed;
        case link::LinkResult::BadArgument:
            return ExchangeResult::TimedOut;
        default:
            return ExchangeResult::Failed;
    }
}

ExchangeResult CloseLink(ExchangeContext& context) {
    const ExchangeLock lock(context.Mutex());
    link::HidLinkSendCloseFeature(context.Link());
    link::HidLinkClose(context.Link());
    return ExchangeResult::Ok;
}

ExchangeResult SendCommand(ExchangeContext& context, const uint32_t* elements, size_t count) {
    if (count > kMaxCommandBytes || (elements == nullptr && count > 0)) {
        return ExchangeResult::WriteFailed;
    }
    uint8_t bytes[kMaxCommandBytes];
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(elements[i] & 0xFF);
    const ExchangeLock lock(context.Mutex());
    link::HidLinkWrite(context.Link(), bytes, static_cast<int16_t>(count));
    return ExchangeResult::Ok;
}

ExchangeResult SendCommand(ExchangeContext& context, Command command) {
    const CommandPacket& packet = GetCommandPacket(command);
    return SendCommand(context, packet.data(), packet.size());
}

ExchangeResult SendBlockBytes(ExchangeContext& context, const FlashBlock& block) {
    const FlashBlockBytes bytes = SerializeFlashBlock(block);
    const ExchangeLock lock(context.Mutex());
    const link::LinkResult written =
        link::HidLinkWrite(context.Link(), bytes.data(), static_cast<int16_t>(bytes.size()));
    return written == link::LinkResult::Ok ? ExchangeResult::Ok : ExchangeResult::WriteFailed;
}

ExchangeResult ReceiveWithDeadline(ExchangeContext& context, uint32_t* elements, size_t n,
                                   const std::atomic<bool>* cancel) {
    return ReceiveWithDeadlineFrom(context, elements, n, context.Time().Now(), cancel);
}

ExchangeResult ReceiveWithDeadlineFrom(ExchangeContext& context, uint32_t* elements, size_t n,
                                       Millis start, const std::atomic<bool>* cancel) {
    const ExchangeLock lock(context.Mutex());
    link::HidSerialLink& link = context.Link();
    Clock& clock = context.Time();
    size_t at = 0;
    bool heard = false;
    auto gaveUp = [&] {
        context.lastReceive = heard ? ReceiveEnd::Incomplete : ReceiveEnd::NothingHeard;
        return ExchangeResult::TimedOut;
    };
    while (at < n) {
        if (cancel != nullptr && cancel->load()) return gaveUp();
        const Millis elapsed = clock.Now() - start;
        if (elapsed.count() / 1000 > kDeadlineWholeSeconds) return gaveUp();
        uint8_t byte = 0;
        if (link::HidLinkReadByte(link, &byte) != link::LinkResult::Ok) {
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
    return ExchangeResult::Ok;
}

ExchangeResult ReceiveWithRetries(ExchangeContext& context, uint32_t* elements, size_t n) {
    const ExchangeLock lock(context.Mutex());
    link::HidSerialLink& link = context.Link();
    Clock& clock = context.Time();
    int emptyPolls = 0;
    size_t at = 0;
    bool heard = false;
    while (at < n) {
        uint8_t byte = 0;
        if (link::HidLinkReadByte(link, &byte) != link::LinkResult::Ok) {
            if (emptyPolls >= kMaxEmptyPolls || link::HidLinkBridgeGone(link)) {
                context.lastReceive = heard ? ReceiveEnd::Incomplete : ReceiveEnd::NothingHeard;
                return ExchangeResult::TimedOut;
            }
            clock.SleepFor(kEmptyPollPause);
            ++emptyPolls;
            continue;
        }
        heard = true;
        at = StoreByte(elements, at, byte);
    }
    context.lastReceive = ReceiveEnd::Complete;
    return ExchangeResult::Ok;
}

}  // namespace farsend::protocol

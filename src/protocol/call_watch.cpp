#include "protocol/call_watch.h"

#include <algorithm>

#include "protocol/packets.h"

namespace farsend::protocol {
namespace {

// The longest sleep between looks at `retry`, which wakes nobody.
constexpr Millis kRetryLook{20};

bool Set(const std::atomic<bool>* flag) {
    return flag != nullptr && flag->load();
}

}  // namespace

CallWatch WatchCalls(ExchangeContext& context, Millis quiet, Millis window,
                     const std::atomic<bool>* stop, const std::atomic<bool>* retry) {
    const ExchangeLock lock(context.Mutex());
    if (Set(stop) || Set(retry)) return CallWatch::Cancelled;
    if (OpenLink(context) != ExchangeResult::Ok) {
        CloseLink(context);
        return CallWatch::LinkFailed;
    }
    link::HidSerialLink& link = context.Link();
    Clock& clock = context.Time();
    const Millis opened = clock.Now();
    Millis lastCall = opened;
    ShortResponsePacket packet{};
    size_t at = 0;
    CallWatch result = CallWatch::StillCalling;
    for (;;) {
        if (Set(stop) || Set(retry)) {
            result = CallWatch::Cancelled;
            break;
        }
        const Millis now = clock.Now();
        if (now - lastCall >= quiet) {
            result = CallWatch::Quiet;
            break;
        }
        if (now - opened >= window) break;
        uint8_t byte = 0;
        if (link::HidLinkReadByte(link, &byte) != link::LinkResult::Ok) {
            if (link::HidLinkBridgeGone(link)) {
                result = CallWatch::LinkFailed;
                break;
            }
            const Millis until = std::min(lastCall + quiet, opened + window);
            link::HidLinkWaitReadable(link, std::min(until - now, kRetryLook), stop);
            continue;
        }
        // Bytes before a lead byte are line noise; a packet is the lead byte
        // and the three after it, as the handshake takes them.
        packet[at] = byte;
        at = packet[0] == kResponseLeadByte ? at + 1 : 0;
        if (at < packet.size()) continue;
        if (ClassifyResponse(packet) == ResponseCode::TargetCall) lastCall = clock.Now();
        packet.fill(0);
        at = 0;
    }
    CloseLink(context);
    return result;
}

}  // namespace farsend::protocol

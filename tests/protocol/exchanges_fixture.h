// Sessions for the exchange tests: the real link and reader thread over the
// simulated bridge, in virtual time, with either the simulated target or a
// scripted far end.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"
#include "link/hid_serial_link.h"
#include "protocol/exchanges.h"
#include "sim/sim_bridge.h"
#include "sim/simulation.h"
#include "support/scripted_endpoint.h"
#include "support/virtual_clock.h"

namespace farsend::protocol::testing {

using Bytes = std::vector<uint8_t>;

inline const Bytes kCallBytes = {0x8C, 0xFD, 0xCA, 0xBB};
inline const Bytes kTargetAckBytes = {0x8C, 0xCA, 0xAC, 0xEA};
inline const Bytes kDoneBytes = {0x8C, 0xFD, 0xC0, 0xB1};
inline const Bytes kStatusE0Bytes = {0x8C, 0xFD, 0xE0, 0x91};
inline const Bytes kBlockErasedBytes = {0x8C, 0xFD, 0xEB, 0x9A};
inline const Bytes kProgramAppAckBytes = {0x8C, 0xFF, 0xAC, 0xDF};
inline const Bytes kProgramBothAckBytes = {0x8C, 0xFB, 0xAC, 0xDB};

// The bytes the target sends for a short answer.
inline Bytes Answer(ResponseCode code) {
    const auto bytes = EncodeShortResponse(code);
    return bytes ? Bytes(bytes->begin(), bytes->end()) : Bytes{};
}
inline Bytes LongAnswer(ResponseCode code, const std::string& text) {
    const auto bytes = EncodeLongResponse(code, text);
    return bytes ? Bytes(bytes->begin(), bytes->end()) : Bytes{};
}
inline Bytes CommandBytes(Command command) {
    const CommandPacket& p = GetCommandPacket(command);
    return Bytes{uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2]), uint8_t(p[3])};
}
// The same packet with its check byte spoiled.
inline Bytes Corrupted(Bytes packet) {
    packet.back() ^= 0x01;
    return packet;
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Collects the diagnostic lines written while it lives.
class DiagnosticRecorder {
public:
    DiagnosticRecorder() {
        SetDiagnosticSink([this](std::string_view text) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.emplace_back(text);
        });
    }
    ~DiagnosticRecorder() { SetDiagnosticSink({}); }
    DiagnosticRecorder(const DiagnosticRecorder&) = delete;
    DiagnosticRecorder& operator=(const DiagnosticRecorder&) = delete;

    int Count(std::string_view line) {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const std::string& l : lines_) n += l == line ? 1 : 0;
        return n;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

inline bool LinkIsOpen(const link::HidSerialLink& link) {
    return link.reader != nullptr || link.writeHandle != link::kNoHandle;
}

// The simulated target through the composition the entry points use.
// Members are declared so that the simulation goes first (it closes and
// detaches the link) and the clock last.
class SimulatedSession {
public:
    explicit SimulatedSession(sim::SimOptions options = {}) {
        options.simulate = true;
        std::string error;
        simulation = sim::Simulation::Create(options, error, &clock);
        if (simulation) simulation->AttachLink(link);
    }
    sim::SimulatedTarget& Target() { return simulation->Target(); }

    farsend::testing::VirtualClock clock;
    link::HidSerialLink link;
    std::unique_ptr<sim::Simulation> simulation;
    ExchangeContext context{link};
};

// A scripted far end on the simulated bridge.
class ScriptedSession {
public:
    explicit ScriptedSession(uint16_t reportLength = 65, bool legacy = false) {
        sim::SimBridgeOptions options =
            sim::SimBridgeOptions::WithReportLength(reportLength, legacy);
        options.clock = &clock;
        bridge = std::make_unique<sim::SimBridge>(options);
        bridge->AttachEndpoint(&endpoint);
        linkClock = std::make_unique<sim::SimBridgeClock>(*bridge);
        link.platform = bridge.get();
        link.clock = linkClock.get();
    }
    ~ScriptedSession() { link::HidLinkStop(link); }

    // Opens the link without a handshake, for the exchanges that need an
    // open link.
    bool Open() { return OpenLink(context) == protocol::ExchangeResult::Ok; }
    // Sends `bytes` of the far end's own accord, `after` from now. The bridge
    // asks an endpoint for output only at the time it last named, so it is
    // told to look again (attaching collects what is due and the next time),
    // and what is due at once is handed to the reader before this returns.
    void EmitIn(Millis after, Bytes bytes) {
        endpoint.EmitAt(clock.Now() + after, std::move(bytes));
        bridge->AttachEndpoint(&endpoint);
        bridge->DeliverDue();
    }
    // Answers every host write that starts with `command` with `answer`.
    void AnswerCommand(Command command, Bytes answer) {
        const Bytes c = CommandBytes(command);
        endpoint.SetResponder([c, answer](const uint8_t* data, size_t length) {
            if (length >= 4 && Bytes(data, data + 4) == c) return answer;
            return Bytes{};
        });
    }

    farsend::testing::VirtualClock clock;
    farsend::testing::ScriptedEndpoint endpoint;
    std::unique_ptr<sim::SimBridge> bridge;
    std::unique_ptr<sim::SimBridgeClock> linkClock;
    link::HidSerialLink link;
    ExchangeContext context{link};
};

}  // namespace farsend::protocol::testing

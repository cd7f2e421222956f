// The real link, reader thread and ring over the simulated bridge.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/hid_serial_link.h"
#include "sim/sim_bridge.h"
#include "support/scripted_endpoint.h"
#include "support/virtual_clock.h"

namespace farsend::link {
namespace {

using farsend::testing::EchoEndpoint;
using farsend::testing::ScriptedEndpoint;
using farsend::testing::VirtualClock;
using sim::SimBridge;
using sim::SimBridgeClock;
using sim::SimBridgeOptions;
using Bytes = std::vector<uint8_t>;

struct Setup {
    std::string name;
    uint16_t reportLength;
    bool legacy;
};

// Owns everything in the right order: clock, bridge, link clock, link.
class SimLink {
public:
    SimLink(const Setup& setup, sim::SerialEndpoint& endpoint, int osClass = -1) {
        SimBridgeOptions options =
            SimBridgeOptions::WithReportLength(setup.reportLength, setup.legacy);
        options.clock = &clock;
        options.osClass = osClass;
        bridge = std::make_unique<SimBridge>(options);
        bridge->AttachEndpoint(&endpoint);
        linkClock = std::make_unique<SimBridgeClock>(*bridge);
        link.platform = bridge.get();
        link.clock = linkClock.get();
    }
    ~SimLink() { HidLinkStop(link); }

    // Reads every byte available now.
    Bytes Drain() {
        Bytes bytes;
        uint8_t byte;
        while (HidLinkReadByte(link, &byte) == link::LinkResult::Ok) bytes.push_back(byte);
        return bytes;
    }

    VirtualClock clock;
    std::unique_ptr<SimBridge> bridge;
    std::unique_ptr<SimBridgeClock> linkClock;
    HidSerialLink link;
};

const std::vector<Setup> kSetups = {
    {"Report9", 9, false}, {"Report33", 33, false}, {"Report65", 65, false},
    {"Legacy9", 9, true},  {"Legacy65", 65, true},
};

class LinkOverSim : public ::testing::TestWithParam<Setup> {};

TEST_P(LinkOverSim, OpenCloseLeaveTheBridgeAsFound) {
    ScriptedEndpoint endpoint;
    SimLink sim(GetParam(), endpoint);
    ASSERT_EQ(HidLinkOpen(sim.link), link::LinkResult::Ok);
    EXPECT_EQ(sim.link.win98Mode, GetParam().legacy ? 1 : 0);
    sim::SimBridgeStats stats = sim.bridge->Stats();
    EXPECT_TRUE(stats.uartOpen);
    EXPECT_EQ(stats.openHandles, 2u);
    EXPECT_EQ(stats.inputBuffers, 512u);
    EXPECT_EQ(HidLinkSendCloseFeature(sim.link), 1);
    EXPECT_EQ(HidLinkClose(sim.link), link::LinkResult::Ok);
    stats = sim.bridge->Stats();
    EXPECT_FALSE(stats.uartOpen);
    EXPECT_EQ(stats.openHandles, 0u);
    EXPECT_EQ(stats.malformedReports, 0u);
    EXPECT_EQ(stats.closeFeatures, 1u);
    EXPECT_EQ(stats.closeReports, 1u);
    EXPECT_EQ(endpoint.Opened(), 1);
    EXPECT_EQ(endpoint.Closed(), 1);
}

TEST_P(LinkOverSim, AnswerIsReadableWhenTheWriteReturns) {
    // What the caller sees right after each write, with no waiting at all:
    // the whole answer, every time.
    ScriptedEndpoint endpoint;
    endpoint.SetResponder([](const uint8_t* data, size_t length) {
        Bytes answer = {0x8C, 0xCA, 0xAC, 0xEA};
        answer.push_back(static_cast<uint8_t>(length));
        answer.push_back(data[0]);
        return answer;
    });
    SimLink sim(GetParam(), endpoint);
    ASSERT_EQ(HidLinkOpen(sim.link), link::LinkResult::Ok);
    for (int round = 0; round < 100; ++round) {
        const Bytes command = {static_cast<uint8_t>(round), 0xCA, 0xFD, 0xAB};
        ASSERT_EQ(HidLinkWrite(sim.link, command.data(), 4), link::LinkResult::Ok);
        // Legacy framing and short reports split the command; each part gets
        // its own answer. Only the last one matters here: all must be there.
        Bytes got = sim.Drain();
        ASSERT_GE(got.size(), 6u) << "round " << round;
        EXPECT_EQ(Bytes(got.end() - 6, got.end() - 2), (Bytes{0x8C, 0xCA, 0xAC, 0xEA}));
    }
    EXPECT_EQ(sim.bridge->Stats().handoffTimeouts, 0u);
    HidLinkClose(sim.link);
}

TEST_P(LinkOverSim, EchoedStreamArrivesIntactAndInOrder) {
    EchoEndpoint endpoint;
    SimLink sim(GetParam(), endpoint);
    ASSERT_EQ(HidLinkOpen(sim.link), link::LinkResult::Ok);
    // Short reports and the legacy framing carry few bytes a report, and every
    // report's echo costs one pass of the reader; they get a shorter stream.
    const size_t total = GetParam().legacy || GetParam().reportLength < 33 ? 3000 : 10000;
    Bytes sent(total);
    for (size_t i = 0; i < total; ++i) sent[i] = static_cast<uint8_t>((i * 131 + i / 256) & 0xFF);

    Bytes received;
    size_t at = 0;
    int piece = 1;
    while (at < total) {
        const size_t n = std::min<size_t>(static_cast<size_t>(piece), total - at);
        ASSERT_EQ(HidLinkWrite(sim.link, sent.data() + at, static_cast<int16_t>(n)),
                  link::LinkResult::Ok);
        at += n;
        const Bytes got = sim.Drain();
        received.insert(received.end(), got.begin(), got.end());
        ASSERT_EQ(received.size(), at) << "all of the echo is readable after the write";
        // 1 to 300 bytes in no tidy pattern; the echo of 300 bytes in legacy
        // framing (60 reports) still fits the ring (61 reports of 65 bytes).
        piece = piece * 7 % 300 + 1;
    }
    EXPECT_EQ(received, sent);
    EXPECT_EQ(sim.bridge->Stats().handoffTimeouts, 0u);
    HidLinkClose(sim.link);
}

INSTANTIATE_TEST_SUITE_P(Setups, LinkOverSim, ::testing::ValuesIn(kSetups),
                         [](const auto& info) { return info.param.name; });

TEST(LinkOverSimAlone, OutputOfItsOwnAccordArrivesAtItsTimeInVirtualTime) {
    ScriptedEndpoint endpoint;
    SimLink sim({"Report65", 65, false}, endpoint);
    const Millis start = sim.clock.Now();
    // The open takes 30 + 55 ms of pauses; the call comes 200 ms in.
    endpoint.EmitAt(start + Millis(200), {0x8C, 0xFD, 0xCA, 0xBB});
    endpoint.EmitAt(start + Millis(250), {0x8C, 0xFD, 0xCA, 0xBB});
    ASSERT_EQ(HidLinkOpen(sim.link), link::LinkResult::Ok);
    EXPECT_TRUE(sim.Drain().empty());

    // A caller polling every millisecond sees it at exactly 200 ms.
    Millis seenAt{0};
    for (int poll = 0; poll < 1000; ++poll) {
        if (!sim.Drain().empty()) {
            seenAt = sim.clock.Now() - start;
            break;
        }
        sim.link.clock->SleepFor(Millis(1));
    }
    EXPECT_EQ(seenAt, Millis(200));

    // A caller that sleeps until input arrives wakes at 250 ms.
    EXPECT_TRUE(HidLinkWaitReadable(sim.link, Millis(1000)));
    EXPECT_EQ(sim.clock.Now() - start, Millis(250));
    EXPECT_EQ(sim.Drain(), (Bytes{0x8C, 0xFD, 0xCA, 0xBB}));

    // Nothing more is due: the whole wait passes.
    EXPECT_FALSE(HidLinkWaitReadable(sim.link, Millis(300)));
    EXPECT_EQ(sim.clock.Now() - start, Millis(550));
    HidLinkClose(sim.link);
}

TEST(LinkOverSimAlone, StopWhileTheBridgeIsSilentEndsTheReadPromptly) {
    ScriptedEndpoint endpoint;
    SimLink sim({"Report65", 65, false}, endpoint);
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(HidLinkOpen(sim.link), link::LinkResult::Ok);
        // Let the reader settle into a read that will get nothing.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(HidLinkStop(sim.link), link::LinkResult::Ok);
        const auto took = std::chrono::steady_clock::now() - start;
        // The read times out after 20 ms; see the reader's own test.
        EXPECT_LT(took, std::chrono::seconds(1)) << "round " << round;
        EXPECT_FALSE(sim.link.reader);
        HidLinkClose(sim.link);
    }
}

TEST(LinkOverSimAlone, UnpluggedBridgeFailsWritesReadsAndTheNextOpen) {
    EchoEndpoint endpoint;
    SimLink sim({"Report65", 65, false}, endpoint);
    ASSERT_EQ(HidLinkOpen(sim.link), link::LinkResult::Ok);
    const Bytes bytes = {1, 2, 3};
    ASSERT_EQ(HidLinkWrite(sim.link, bytes.data(), 3), link::LinkResult::Ok);
    EXPECT_EQ(sim.Drain(), bytes);

    sim.bridge->Unplug();
    EXPECT_EQ(HidLinkWrite(sim.link, bytes.data(), 3), link::LinkResult::ReportFailed);
    uint8_t byte;
    EXPECT_EQ(HidLinkReadByte(sim.link, &byte), link::LinkResult::NothingAvailable);
    HidLinkSendCloseFeature(sim.link);
    EXPECT_EQ(HidLinkClose(sim.link), link::LinkResult::Ok);
    EXPECT_EQ(HidLinkOpen(sim.link), link::LinkResult::OpenFailed);
}

TEST(LinkOverSimAlone, RefusedConfigurationAndFailedFirstReport) {
    ScriptedEndpoint endpoint;
    SimLink sim({"Report33", 33, false}, endpoint);
    sim.bridge->SetRefuseFeatures(true);
    EXPECT_EQ(HidLinkOpen(sim.link), link::LinkResult::OpenFailed);
    EXPECT_EQ(sim.bridge->Stats().openHandles, 0u);
    sim.bridge->SetRefuseFeatures(false);
    sim.bridge->SetFailWrites(true);
    EXPECT_EQ(HidLinkOpen(sim.link), link::LinkResult::ReportFailed);
    EXPECT_EQ(sim.bridge->Stats().openHandles, 0u);
    sim.bridge->SetFailWrites(false);
    EXPECT_EQ(HidLinkOpen(sim.link), link::LinkResult::Ok);
    HidLinkClose(sim.link);
}

TEST(LinkOverSimAlone, SystemOfClassSixRestartsTheBridgeFirst) {
    ScriptedEndpoint endpoint;
    SimLink sim({"Report65", 65, false}, endpoint, /*osClass=*/6);
    const Millis start = sim.clock.Now();
    ASSERT_EQ(HidLinkOpen(sim.link), link::LinkResult::Ok);
    EXPECT_EQ(sim.bridge->Stats().restarts, 1u);
    EXPECT_EQ(sim.clock.Now() - start, Millis(200 + 30 + 55));
    HidLinkClose(sim.link);
}

}  // namespace
}  // namespace farsend::link

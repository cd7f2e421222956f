#include "sim/sim_bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "link/bridge_ids.h"
#include "support/scripted_endpoint.h"
#include "support/virtual_clock.h"

namespace farsend::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using farsend::testing::ScriptedEndpoint;
using farsend::testing::VirtualClock;
using link::HidHandle;
using link::ReadStatus;

const Bytes kConfig = {0x00, 0x09, 0x08, 0x07, 0x06, 0x05};
const Bytes kCloseFeature = {0x00, 0xF4, 0x00, 0x00, 0x00, 0x00};

// An output report of `length` bytes that starts with `head`, zero after.
Bytes Out(uint16_t length, Bytes head) {
    head.resize(length, 0);
    return head;
}

class SimBridgeTest : public ::testing::Test {
protected:
    void Make(SimBridgeOptions options) {
        options.clock = &clock;
        options.keepOutputLog = true;
        bridge = std::make_unique<SimBridge>(options);
        bridge->AttachEndpoint(&endpoint);
    }
    // One handle on the bridge: no reader, so nothing waits for one.
    HidHandle OpenBridge() { return bridge->Open(SimBridge::kBridgePath); }
    bool Feature(HidHandle h, const Bytes& report) {
        return bridge->SetFeature(h, report.data(), report.size());
    }
    long Write(HidHandle h, const Bytes& report) {
        return bridge->WriteReport(h, report.data(), report.size());
    }
    // Every input report the bridge has ready now (read without waiting).
    std::vector<Bytes> ReadyReports(HidHandle h, size_t length) {
        std::vector<Bytes> reports;
        uint8_t buffer[4000];
        size_t got = 0;
        while (bridge->ReadReport(h, buffer, sizeof buffer, &got, 0) == ReadStatus::kReport) {
            for (size_t at = 0; at < got; at += length) {
                reports.emplace_back(buffer + at, buffer + at + length);
            }
        }
        return reports;
    }

    VirtualClock clock;
    ScriptedEndpoint endpoint;
    std::unique_ptr<SimBridge> bridge;
};

TEST_F(SimBridgeTest, EnumeratesOthersFirstThenTheBridge) {
    Make({});
    const auto paths = bridge->EnumerateInterfaces();
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths.back(), SimBridge::kBridgePath);

    std::vector<std::pair<uint16_t, uint16_t>> ids;
    for (const auto& path : paths) {
        const HidHandle h = bridge->Open(path);
        ASSERT_NE(h, link::kNoHandle) << path;
        link::HidAttributes a;
        ASSERT_TRUE(bridge->GetAttributes(h, &a));
        ids.emplace_back(a.vendorId, a.productId);
        bridge->Close(h);
    }
    EXPECT_NE(ids[0].first, link::kBridgeVendorId);
    EXPECT_NE(ids[1].first, link::kBridgeVendorId);
    EXPECT_EQ(ids[2].first, link::kBridgeVendorId);
    EXPECT_NE(ids[2].second, link::kBridgeProductId);
    EXPECT_EQ(ids[3], std::make_pair(link::kBridgeVendorId, link::kBridgeProductId));
}

TEST_F(SimBridgeTest, ReportLengthsAndSystemFollowTheOptions) {
    struct Case {
        uint16_t length;
        bool legacy;
        const char* version;
        int osClass;
    };
    for (Case c : {Case{9, false, "10.0.0.0", 1}, Case{33, false, "10.0.0.0", 1},
                   Case{65, false, "10.0.0.0", 1}, Case{9, true, "4.10.1998", 2}}) {
        Make(SimBridgeOptions::WithReportLength(c.length, c.legacy));
        const HidHandle h = OpenBridge();
        link::HidCaps caps;
        ASSERT_TRUE(bridge->GetCaps(h, &caps));
        EXPECT_EQ(caps.inputReportByteLength, c.length);
        EXPECT_EQ(caps.outputReportByteLength, c.length);
        EXPECT_EQ(bridge->HidLibraryFileVersion(), c.version);
        EXPECT_EQ(bridge->OsClass(), c.osClass);
    }
}

TEST_F(SimBridgeTest, InputBufferCountsUpTo512) {
    Make({});
    const HidHandle h = OpenBridge();
    EXPECT_FALSE(bridge->SetNumInputBuffers(h, 1024));
    EXPECT_TRUE(bridge->SetNumInputBuffers(h, 512));
    EXPECT_EQ(bridge->Stats().inputBuffers, 512u);
}

// Output reports and what reaches the serial side.
struct OutputCase {
    std::string name;
    uint16_t length;
    bool legacy;
    std::vector<Bytes> reports;  // after the configuration feature
    Bytes received;
    uint32_t malformed;
};

class SimBridgeOutput : public SimBridgeTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(SimBridgeOutput, TakesThePayloadOutOfEachReport) {
    const OutputCase& c = GetParam();
    Make(SimBridgeOptions::WithReportLength(c.length, c.legacy));
    const HidHandle h = OpenBridge();
    ASSERT_TRUE(Feature(h, kConfig));
    for (const Bytes& report : c.reports) {
        EXPECT_EQ(Write(h, Out(c.length, report)), c.length);
    }
    EXPECT_EQ(endpoint.Received(), c.received);
    EXPECT_EQ(bridge->Stats().malformedReports, c.malformed);
}

std::vector<OutputCase> OutputCases() {
    return {
        {"Normal9",
         9,
         false,
         {{0, 0x20, 0}, {0, 0x20, 6, 1, 2, 3, 4, 5, 6}, {0, 0x20, 1, 7}},
         {1, 2, 3, 4, 5, 6, 7},
         0},
        {"Normal33", 33, false, {{0, 0x20, 3, 0xA, 0xB, 0xC}}, {0xA, 0xB, 0xC}, 0},
        {"Normal65", 65, false, {{0, 0x20, 2, 0x8C, 0xCA}}, {0x8C, 0xCA}, 0},
        {"CountBeyondReportRefused", 9, false, {{0, 0x20, 7, 1}}, {}, 1},
        {"UnknownControlRefused", 9, false, {{0, 0x21, 1, 1}}, {}, 1},
        {"NonZeroReportIdRefused", 9, false, {{1, 0x20, 1, 1}}, {}, 1},
        {"Legacy9",
         9,
         true,
         {{0, 0xF6, 0x20, 0}, {0, 0xF6, 0x20, 5, 1, 2, 3, 4, 5}},
         {1, 2, 3, 4, 5},
         0},
        {"Legacy65MoreThanFiveRefused", 65, true, {{0, 0xF6, 0x20, 6, 1, 2, 3, 4, 5, 6}}, {}, 1},
        {"LegacyWithoutMarkerRefused", 9, true, {{0, 0x20, 1, 1}}, {}, 1},
    };
}

INSTANTIATE_TEST_SUITE_P(Reports, SimBridgeOutput, ::testing::ValuesIn(OutputCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(SimBridgeTest, WriteOfAnotherLengthFails) {
    Make(SimBridgeOptions::WithReportLength(33));
    const HidHandle h = OpenBridge();
    EXPECT_EQ(Write(h, Out(32, {0, 0x20, 0})), -1);
    EXPECT_EQ(Write(h, Out(65, {0, 0x20, 0})), -1);
    EXPECT_EQ(Write(h, Out(33, {0, 0x20, 0})), 33);
}

TEST_F(SimBridgeTest, FeaturesAndCloseReportOpenAndCloseTheSerialSide) {
    Make(SimBridgeOptions::WithReportLength(9));
    const HidHandle h = OpenBridge();
    // Bytes before configuration go nowhere.
    Write(h, Out(9, {0, 0x20, 1, 0x55}));
    EXPECT_TRUE(endpoint.Received().empty());
    EXPECT_FALSE(Feature(h, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05}));
    EXPECT_FALSE(bridge->SetFeature(h, kConfig.data(), 5));

    ASSERT_TRUE(Feature(h, kConfig));
    EXPECT_TRUE(bridge->Stats().uartOpen);
    EXPECT_EQ(endpoint.Opened(), 1);
    ASSERT_TRUE(Feature(h, kCloseFeature));
    EXPECT_FALSE(bridge->Stats().uartOpen);
    // The close report after the close feature does not close twice.
    Write(h, Out(9, {0, 0x00, 0}));
    EXPECT_EQ(endpoint.Closed(), 1);

    ASSERT_TRUE(Feature(h, kConfig));
    Write(h, Out(9, {0, 0x00, 0}));
    EXPECT_EQ(endpoint.Opened(), 2);
    EXPECT_EQ(endpoint.Closed(), 2);
    const SimBridgeStats stats = bridge->Stats();
    EXPECT_EQ(stats.configFeatures, 2u);
    EXPECT_EQ(stats.closeFeatures, 1u);
    EXPECT_EQ(stats.closeReports, 2u);
    EXPECT_EQ(stats.droppedHostBytes, 1u);
}

TEST_F(SimBridgeTest, AnswersAreFramedIntoInputReportsOfTheirLength) {
    Make(SimBridgeOptions::WithReportLength(9));
    endpoint.SetResponder([](const uint8_t*, size_t) {
        Bytes answer(14);
        for (size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(0x40 + i);
        return answer;
    });
    const HidHandle h = OpenBridge();
    ASSERT_TRUE(Feature(h, kConfig));
    Write(h, Out(9, {0, 0x20, 1, 0x01}));
    const auto reports = ReadyReports(h, 9);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], (Bytes{0, 0x20, 6, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45}));
    EXPECT_EQ(reports[1], (Bytes{0, 0x20, 6, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B}));
    EXPECT_EQ(reports[2], (Bytes{0, 0x20, 2, 0x4C, 0x4D, 0, 0, 0, 0}));
}

TEST_F(SimBridgeTest, OutputOfItsOwnAccordComesWhenDue) {
    Make(SimBridgeOptions::WithReportLength(9));
    const HidHandle h = OpenBridge();
    // Scheduled before the bridge asks: the bridge asks the endpoint again
    // only when the time it named comes, or after host activity.
    endpoint.EmitAt(clock.Now() + Millis(50), {0x8C, 0xFD, 0xCA, 0xBB});
    ASSERT_TRUE(Feature(h, kConfig));
    EXPECT_EQ(bridge->NextDueTime(), clock.Now() + Millis(50));
    EXPECT_TRUE(ReadyReports(h, 9).empty());
    clock.Advance(Millis(49));
    EXPECT_TRUE(ReadyReports(h, 9).empty());
    clock.Advance(Millis(1));
    const auto reports = ReadyReports(h, 9);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], (Bytes{0, 0x20, 4, 0x8C, 0xFD, 0xCA, 0xBB, 0, 0}));
    EXPECT_EQ(bridge->NextDueTime(), Millis::max());
}

// A reader asleep in a long read, with nothing due, must look again when
// host bytes bring output due sooner; otherwise it would sleep through the
// answer until its read timed out.
TEST_F(SimBridgeTest, AWaitingReaderWakesForOutputThatFallsDueSooner) {
    Make(SimBridgeOptions::WithReportLength(9));
    const HidHandle h = OpenBridge();
    const HidHandle readHandle = OpenBridge();
    ASSERT_TRUE(Feature(h, kConfig));
    ASSERT_EQ(bridge->NextDueTime(), Millis::max());

    ReadStatus status = ReadStatus::kFailed;
    double seconds = 0;
    std::thread reader([&] {
        uint8_t buffer[4000];
        size_t got = 0;
        const auto start = std::chrono::steady_clock::now();
        status = bridge->ReadReport(readHandle, buffer, sizeof buffer, &got, 60000);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
    // Give the reader time to settle into its wait (were it not there yet,
    // it would find the due time itself and the test would prove less).
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    endpoint.EmitAt(clock.Now() + Millis(5), {0x8C, 0xFD, 0xC0, 0xB1});
    Write(h, Out(9, {0, 0x20, 1, 0x01}));
    clock.Advance(Millis(5));
    reader.join();
    EXPECT_EQ(status, ReadStatus::kReport);
    EXPECT_LT(seconds, 30.0) << "the reader slept until its read timed out";
}

TEST_F(SimBridgeTest, OutputWhileClosedIsLost) {
    Make(SimBridgeOptions::WithReportLength(9));
    const HidHandle h = OpenBridge();
    endpoint.EmitAt(clock.Now(), {1, 2, 3});
    ASSERT_TRUE(Feature(h, kConfig));
    EXPECT_TRUE(ReadyReports(h, 9).empty());
}

TEST_F(SimBridgeTest, UnpluggedBridgeVanishesAndItsHandlesFail) {
    Make(SimBridgeOptions::WithReportLength(9));
    const HidHandle h = OpenBridge();
    ASSERT_TRUE(Feature(h, kConfig));
    bridge->Unplug();
    EXPECT_FALSE(bridge->Plugged());
    const auto paths = bridge->EnumerateInterfaces();
    EXPECT_EQ(paths.size(), 3u);
    EXPECT_EQ(std::count(paths.begin(), paths.end(), SimBridge::kBridgePath), 0);
    EXPECT_EQ(OpenBridge(), link::kNoHandle);
    EXPECT_EQ(Write(h, Out(9, {0, 0x20, 1, 1})), -1);
    EXPECT_FALSE(Feature(h, kCloseFeature));
    uint8_t buffer[9];
    size_t got = 0;
    EXPECT_EQ(bridge->ReadReport(h, buffer, sizeof buffer, &got, 0), ReadStatus::kGone);
    link::HidCaps caps;
    EXPECT_FALSE(bridge->GetCaps(h, &caps));
    EXPECT_EQ(bridge->Identify(SimBridge::kBridgePath).location, "");
}

TEST_F(SimBridgeTest, SharedPlugPulledElsewhere) {
    PlugState plug;
    SimBridgeOptions options;
    options.plug = &plug;
    Make(options);
    plug.Unplug();
    EXPECT_EQ(OpenBridge(), link::kNoHandle);
}

TEST_F(SimBridgeTest, ObserverSeesBothDirections) {
    Make(SimBridgeOptions::WithReportLength(9));
    std::vector<std::pair<SerialDirection, Bytes>> seen;
    bridge->SetSerialObserver([&](SerialDirection d, const uint8_t* data, size_t n, Millis) {
        seen.emplace_back(d, Bytes(data, data + n));
    });
    endpoint.SetResponder([](const uint8_t*, size_t) { return Bytes{0xAA}; });
    const HidHandle h = OpenBridge();
    ASSERT_TRUE(Feature(h, kConfig));
    Write(h, Out(9, {0, 0x20, 2, 0x10, 0x11}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(SerialDirection::kToTarget, Bytes{0x10, 0x11}));
    EXPECT_EQ(seen[1], std::make_pair(SerialDirection::kToHost, Bytes{0xAA}));
}

TEST_F(SimBridgeTest, RestartIsCountedAndItsResultConfigurable) {
    Make({});
    EXPECT_EQ(bridge->RestartBridge(link::kBridgeVendorId, link::kBridgeProductId, ""), 1);
    EXPECT_EQ(bridge->Stats().restarts, 1u);
    bridge->SetRestartResult(0);
    EXPECT_EQ(bridge->RestartBridge(link::kBridgeVendorId, link::kBridgeProductId, ""), 0);
    EXPECT_EQ(bridge->Stats().restarts, 1u);
}

TEST_F(SimBridgeTest, WithoutAReaderNothingWaits) {
    // Two handles but nobody reading: the handoff gives up at its cap and
    // says so rather than hanging.
    SimBridgeOptions options = SimBridgeOptions::WithReportLength(9);
    options.handoffCap = std::chrono::milliseconds(20);
    Make(options);
    endpoint.SetResponder([](const uint8_t*, size_t) { return Bytes{1}; });
    const HidHandle h = OpenBridge();
    const HidHandle second = OpenBridge();
    ASSERT_TRUE(Feature(h, kConfig));
    EXPECT_EQ(Write(h, Out(9, {0, 0x20, 1, 1})), 9);
    EXPECT_EQ(bridge->Stats().handoffTimeouts, 1u);
    EXPECT_EQ(ReadyReports(second, 9).size(), 1u);
}

}  // namespace
}  // namespace farsend::sim

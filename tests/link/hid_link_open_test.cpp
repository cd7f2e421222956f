#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link_fixture.h"

namespace farsend::link {
namespace {

using testing::FakeHidPlatform;
using testing::LinkTest;
using Lines = std::vector<std::string>;

// What the fake logs for a restart of this build's bridge.
std::string RestartOfOurBridge() {
    char line[32];
    std::snprintf(line, sizeof line, "restart %04x %04x", kBridgeVendorId, kBridgeProductId);
    return line;
}

std::string ZeroTail(int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) text += " 00";
    return text;
}

class HidLinkOpenTest : public LinkTest {};

TEST_F(HidLinkOpenTest, NormalOpenSequence) {
    platform.interfaces.push_back(FakeHidPlatform::Bridge("mouse", 0x046D, 0xC077));
    AddBridge(33, 33);
    ASSERT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
    EXPECT_EQ(Log(), (Lines{
                         "bind",
                         "open mouse -> 1",
                         "close 1",
                         "open bridge -> 2",
                         "open bridge -> 3",
                         "caps 2",
                         "buffers 2 512 ok",
                         "feature 2 00 09 08 07 06 05",
                         "sleep 30",
                         "write 2 00 20 00" + ZeroTail(30),
                         "sleep 55",
                     }));
    EXPECT_EQ(link.writeHandle, 2u);
    EXPECT_EQ(link.readHandle, 3u);
    EXPECT_EQ(link.vendorId, kBridgeVendorId);
    EXPECT_EQ(link.productId, kBridgeProductId);
    EXPECT_EQ(link.win98Mode, 0);
    ASSERT_TRUE(link.reader);
    EXPECT_FALSE(link.reader->IsStopRequested());
    EXPECT_EQ(HidLinkClose(link), link::LinkResult::Ok);
}

TEST_F(HidLinkOpenTest, LegacyLibraryVersionSelectsLegacyFirstReport) {
    AddBridge(9, 9);
    platform.fileVersion = "4.10.1998";
    ASSERT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
    EXPECT_EQ(link.win98Mode, 1);
    EXPECT_EQ(LogLines("write"), Lines{"write 1 00 F6 20 00 00 00 00 00 00"});

    platform.ClearLog();
    HidLinkClose(link);
    EXPECT_EQ(LogLines("write"), Lines{"write 1 00 F6 00 00 00 00 00 00 00"});
}

TEST_F(HidLinkOpenTest, OnlyTheExactVersionTextSelectsLegacyFraming) {
    AddBridge();
    for (const char* version : {"4.10.1998 ", "4.10.19980", "4.10.2222", "", "10.0.0.0"}) {
        platform.fileVersion = version;
        ASSERT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
        EXPECT_EQ(link.win98Mode, 0) << '"' << version << '"';
        HidLinkClose(link);
    }
}

struct OsClassCase {
    int osClass;
    bool restarts;
};

class HidLinkOsClassTest : public LinkTest, public ::testing::WithParamInterface<OsClassCase> {};

TEST_P(HidLinkOsClassTest, ClassFiveAndAboveRestartThenPause200BeforeTheSearch) {
    AddBridge();
    platform.osClass = GetParam().osClass;
    ASSERT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
    const Lines log = Log();
    const bool restarted = log.size() >= 3 && log[0] == RestartOfOurBridge() &&
                           log[1] == "sleep 200" && log[2] == "bind";
    EXPECT_EQ(restarted, GetParam().restarts);
    if (!GetParam().restarts) {
        EXPECT_EQ(log[0], "bind");
    }
    EXPECT_EQ(clock.Slept().count(), 30 + 55 + (GetParam().restarts ? 200 : 0));
}

INSTANTIATE_TEST_SUITE_P(Classes, HidLinkOsClassTest,
                         ::testing::Values(OsClassCase{0, false}, OsClassCase{1, false},
                                           OsClassCase{2, false}, OsClassCase{3, false},
                                           OsClassCase{4, false}, OsClassCase{5, true},
                                           OsClassCase{6, true}));

TEST_F(HidLinkOpenTest, RestartWithoutConfigurationManagerFailsTheOpen) {
    AddBridge();
    platform.osClass = 6;
    platform.restartResult = 0;
    EXPECT_EQ(HidLinkOpen(link), link::LinkResult::OpenFailed);
    EXPECT_EQ(Log(), Lines{RestartOfOurBridge()});
    EXPECT_FALSE(link.rxBuffer);
}

TEST_F(HidLinkOpenTest, RestartWithoutDeviceSetupPausesAndGoesOn) {
    AddBridge();
    platform.osClass = 5;
    platform.restartResult = -4;
    EXPECT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
    EXPECT_EQ(Log()[1], "sleep 200");
}

// Failures of the open and the state they leave.
struct OpenFailure {
    std::string name;
    void (*arrange)(FakeHidPlatform&);
    int16_t result;
    bool closeReportWritten;
};

class HidLinkOpenFailureTest : public LinkTest,
                               public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(HidLinkOpenFailureTest, LeavesTheLinkClosed) {
    AddBridge();
    GetParam().arrange(platform);
    EXPECT_EQ(LinkResultCode(HidLinkOpen(link)), GetParam().result);
    EXPECT_EQ(link.writeHandle, kNoHandle);
    EXPECT_EQ(link.readHandle, kNoHandle);
    EXPECT_FALSE(link.reader);
    EXPECT_FALSE(link.rxBuffer);
    EXPECT_EQ(platform.OpenHandles(), 0);
    const Lines writes = LogLines("write");
    const bool closeReport = !writes.empty() && writes.back().rfind("write 1 00 00 00", 0) == 0;
    EXPECT_EQ(closeReport, GetParam().closeReportWritten);
    uint8_t byte;
    EXPECT_EQ(HidLinkReadByte(link, &byte), link::LinkResult::BadArgument);
}

std::vector<OpenFailure> OpenFailures() {
    return {
        {"BindFails", [](FakeHidPlatform& p) { p.bindSucceeds = false; }, -4, false},
        {"NoBridge", [](FakeHidPlatform& p) { p.interfaces.clear(); }, -4, false},
        {"CapsFail", [](FakeHidPlatform& p) { p.capsSucceed = false; }, -4, false},
        {"InputLengthTooShort",
         [](FakeHidPlatform& p) { p.interfaces[0].caps.inputReportByteLength = 3; }, -4, false},
        {"InputLengthBeyondBuffers",
         [](FakeHidPlatform& p) { p.interfaces[0].caps.inputReportByteLength = 1025; }, -4, false},
        {"OutputLengthTooShort",
         [](FakeHidPlatform& p) { p.interfaces[0].caps.outputReportByteLength = 3; }, -4, false},
        {"OutputLengthBeyondBuffers",
         [](FakeHidPlatform& p) { p.interfaces[0].caps.outputReportByteLength = 1025; }, -4, false},
        {"LegacyOutputLengthTooShort",
         [](FakeHidPlatform& p) {
             p.fileVersion = "4.10.1998";
             p.interfaces[0].caps.outputReportByteLength = 4;
         },
         -4, false},
        {"ConfigurationRefused", [](FakeHidPlatform& p) { p.acceptConfigFeature = false; }, -4,
         true},
        {"FirstReportFails", [](FakeHidPlatform& p) { p.failWriteNumber = 1; }, -3, true},
        {"FirstReportShort", [](FakeHidPlatform& p) { p.shortWrites = true; }, -3, true},
    };
}

INSTANTIATE_TEST_SUITE_P(Failures, HidLinkOpenFailureTest, ::testing::ValuesIn(OpenFailures()),
                         [](const auto& info) { return info.param.name; });

TEST_F(HidLinkOpenTest, WithoutPlatformOpenFails) {
    link.platform = nullptr;
    EXPECT_EQ(HidLinkOpen(link), link::LinkResult::OpenFailed);
    EXPECT_FALSE(link.rxBuffer);
}

TEST_F(HidLinkOpenTest, NeverOpenedLink) {
    uint8_t byte = 0x5A;
    uint8_t report[65] = {};
    EXPECT_EQ(HidLinkReadByte(link, &byte), link::LinkResult::BadArgument);
    EXPECT_EQ(HidLinkReadReport(link, report, 65), link::LinkResult::ReportFailed);
    EXPECT_EQ(HidLinkWriteReport(link, report, 65), link::LinkResult::ReportFailed);
    EXPECT_EQ(HidLinkSetFeature(link, report, 6), 0);
    EXPECT_EQ(HidLinkWrite(link, report, 0), link::LinkResult::Ok);
    EXPECT_EQ(HidLinkWrite(link, report, 4), link::LinkResult::ReportFailed);

    // The protocol layer's way out after a failed open: harmless.
    EXPECT_EQ(HidLinkSendCloseFeature(link), 0);
    EXPECT_EQ(HidLinkClose(link), link::LinkResult::Ok);
    EXPECT_EQ(HidLinkStop(link), link::LinkResult::Ok);
    EXPECT_EQ(Log(), Lines{"sleep 30"});
    EXPECT_EQ(link.writeHandle, kNoHandle);
    EXPECT_FALSE(link.reader);
    EXPECT_FALSE(HidLinkWaitReadable(link, Millis(5)));
}

TEST_F(HidLinkOpenTest, ReadByteWithNullDestinationOnAnOpenLink) {
    AddBridge();
    OpenAndClearLog();
    EXPECT_EQ(HidLinkReadByte(link, nullptr), link::LinkResult::BadArgument);
    uint8_t byte;
    EXPECT_EQ(HidLinkReadByte(link, &byte), link::LinkResult::NothingAvailable);
}

TEST_F(HidLinkOpenTest, CloseWritesCloseReportStopsReaderClosesReadThenWriteHandle) {
    AddBridge(9, 9);
    OpenAndClearLog();
    EXPECT_EQ(HidLinkSendCloseFeature(link), 1);
    // The reader waits in a read that gets nothing: it must have ended
    // before the handle it reads goes.
    ASSERT_TRUE(platform.WaitUntilReaderIdle());
    EXPECT_EQ(HidLinkClose(link), link::LinkResult::Ok);
    EXPECT_EQ(Log(), (Lines{"feature 1 00 F4 00 00 00 00", "sleep 30",
                            "write 1 00 00 00 00 00 00 00 00 00", "close 2", "close 1"}));
    EXPECT_FALSE(link.reader);
    EXPECT_FALSE(link.rxBuffer);
    EXPECT_EQ(platform.OpenHandles(), 0);
}

TEST_F(HidLinkOpenTest, OpenOnAnOpenLinkClosesTheFirstOpenBeforehand) {
    AddBridge();
    ASSERT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
    platform.ClearLog();
    ASSERT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
    EXPECT_EQ(platform.OpenHandles(), 2);
    const Lines log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0].rfind("write 1 00 00 00", 0), 0u);
    EXPECT_EQ(log[1], "close 2");
    EXPECT_EQ(log[2], "close 1");
}

TEST_F(HidLinkOpenTest, ReopenAfterCloseStartsAFreshReader) {
    AddBridge();
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
        ASSERT_TRUE(link.reader);
        EXPECT_EQ(link.rxCount, 0);
        HidLinkSendCloseFeature(link);
        HidLinkClose(link);
        EXPECT_EQ(platform.OpenHandles(), 0);
    }
}

// --- device discovery ---

class HidLinkFindTest : public LinkTest {
protected:
    void SetUp() override {
        link.vendorId = kBridgeVendorId;
        link.productId = kBridgeProductId;
    }
};

TEST_F(HidLinkFindTest, FirstOfTwoBridgesWinsAndOthersAreClosedAgain) {
    platform.interfaces.push_back(FakeHidPlatform::Bridge("keyboard", 0x046D, 0xC31C));
    platform.interfaces.push_back(
        FakeHidPlatform::Bridge("same-vendor", kBridgeVendorId, kBridgeProductId + 1));
    platform.interfaces.push_back(
        FakeHidPlatform::Bridge("bridge-a", kBridgeVendorId, kBridgeProductId));
    platform.interfaces.push_back(
        FakeHidPlatform::Bridge("bridge-b", kBridgeVendorId, kBridgeProductId));
    ASSERT_TRUE(HidLinkFindDevice(link));
    EXPECT_EQ(Log(), (Lines{"open keyboard -> 1", "close 1", "open same-vendor -> 2", "close 2",
                            "open bridge-a -> 3", "open bridge-a -> 4"}));
    EXPECT_EQ(link.writeHandle, 3u);
    EXPECT_EQ(link.readHandle, 4u);
    HidLinkStop(link);
}

TEST_F(HidLinkFindTest, UnreadableAttributesDoNotMatch) {
    AddBridge();
    platform.interfaces[0].attributesReadable = false;
    EXPECT_FALSE(HidLinkFindDevice(link));
    EXPECT_EQ(platform.OpenHandles(), 0);
    EXPECT_EQ(link.writeHandle, kNoHandle);
    EXPECT_EQ(link.readHandle, kNoHandle);
}

TEST_F(HidLinkFindTest, BridgeThatOpensOnlyOnceIsSkippedForTheNext) {
    platform.interfaces.push_back(
        FakeHidPlatform::Bridge("held", kBridgeVendorId, kBridgeProductId));
    platform.interfaces[0].opensOnce = true;
    platform.interfaces.push_back(
        FakeHidPlatform::Bridge("free", kBridgeVendorId, kBridgeProductId));
    ASSERT_TRUE(HidLinkFindDevice(link));
    EXPECT_EQ(Log(), (Lines{"open held -> 1", "open held refused", "close 1", "open free -> 2",
                            "open free -> 3"}));
    HidLinkStop(link);
}

struct BufferCase {
    uint32_t largestAccepted;
    Lines expected;
};

class HidLinkInputBuffersTest : public LinkTest,
                                public ::testing::WithParamInterface<BufferCase> {};

TEST_P(HidLinkInputBuffersTest, StopsAtTheFirstAcceptedCount) {
    AddBridge();
    link.writeHandle = platform.Open("bridge");
    platform.ClearLog();
    platform.largestInputBufferCount = GetParam().largestAccepted;
    HidLinkSetInputBuffers(link);
    EXPECT_EQ(Log(), GetParam().expected);
    HidLinkStop(link);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, HidLinkInputBuffersTest,
    ::testing::Values(
        BufferCase{512, {"buffers 1 512 ok"}},
        BufferCase{300, {"buffers 1 512 refused", "buffers 1 256 ok"}},
        BufferCase{200, {"buffers 1 512 refused", "buffers 1 256 refused", "buffers 1 196 ok"}},
        BufferCase{150,
                   {"buffers 1 512 refused", "buffers 1 256 refused", "buffers 1 196 refused",
                    "buffers 1 128 ok"}},
        BufferCase{10,
                   {"buffers 1 512 refused", "buffers 1 256 refused", "buffers 1 196 refused",
                    "buffers 1 128 refused", "buffers 1 32 refused"}}));

}  // namespace
}  // namespace farsend::link

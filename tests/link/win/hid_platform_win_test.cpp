#include "link/win/hid_platform_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/clock.h"
#include "link/bridge_ids.h"
#include "link/cd_hid_thread.h"
#include "link/win/bridge_restart.h"
#include "link/win/read_failure.h"
#include "link/win/system_libraries.h"

namespace farsend::link {
namespace {

TEST(WinHidPlatformTest, IsTheSystemBackend) {
    EXPECT_NE(dynamic_cast<WinHidPlatform*>(&SystemHidPlatform()), nullptr);
}

TEST(WinHidPlatformTest, WithoutABridgeNoInterfaceCarriesItsIdentifiers) {
    WinHidPlatform platform;
    ASSERT_TRUE(platform.Bind());
    int matches = 0;
    for (const std::string& path : platform.EnumerateInterfaces()) {
        const HidHandle handle = platform.Open(path);
        if (handle == kNoHandle) continue;
        HidAttributes attributes;
        if (platform.GetAttributes(handle, &attributes) && attributes.vendorId == kBridgeVendorId &&
            attributes.productId == kBridgeProductId) {
            ++matches;
        }
        platform.Close(handle);
    }
    EXPECT_EQ(matches, 0);
}

TEST(WinHidPlatformTest, RestartWithoutABridgeStillSucceeds) {
    WinHidPlatform platform;
    EXPECT_EQ(platform.RestartBridge(kBridgeVendorId, kBridgeProductId, ""), 1);
    EXPECT_EQ(platform.RestartBridge(kBridgeVendorId, kBridgeProductId,
                                     "\\\\?\\hid#vid_1209&pid_0001#farsend#{absent}"),
              1);
}

TEST(WinHidPlatformTest, OpeningAMissingPathFails) {
    WinHidPlatform platform;
    EXPECT_EQ(platform.Open("\\\\?\\hid#vid_1209&pid_0001#farsend#{absent}"), kNoHandle);
}

struct ReadFailureCase {
    DWORD error;
    ReadStatus expected;
};

// An unplug must end the reads as kGone, or the link waits out its reply
// time-outs (13 s under Wine in the kernel suite) and reports a
// communication error instead of the unplug.
TEST(ReadFailureStatusTest, TheErrorsOfADeviceThatIsGone) {
    const ReadFailureCase cases[] = {
        {ERROR_DEVICE_NOT_CONNECTED, ReadStatus::kGone},  // Windows
        {ERROR_ACCESS_DENIED, ReadStatus::kGone},         // Wine: STATUS_DELETE_PENDING
        {ERROR_INVALID_PARAMETER, ReadStatus::kFailed},
        {ERROR_GEN_FAILURE, ReadStatus::kFailed},
    };
    for (const ReadFailureCase& c : cases) {
        EXPECT_EQ(ReadFailureStatus(c.error), c.expected) << "error " << c.error;
    }
}

struct PatternCase {
    uint16_t vendor;
    uint16_t product;
    const char* expected;
};

TEST(BridgeHardwarePatternTest, FourLowerCaseHexDigitsEach) {
    const PatternCase cases[] = {
        {0x1209, 0x0001, "USB\\VID_1209&PID_0001"},
        {0xABCD, 0xEF01, "USB\\VID_abcd&PID_ef01"},
        {0x0000, 0xFFFF, "USB\\VID_0000&PID_ffff"},
    };
    for (const PatternCase& c : cases) {
        EXPECT_EQ(BridgeHardwarePattern(c.vendor, c.product), c.expected);
    }
}

// A named pipe stands in for a device: it is opened the same way and shows
// that reads time out, are cancelled cleanly and still deliver later data,
// and that writes wait for completion.
class OverlappedIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = "\\\\.\\pipe\\farsend-hid-test-" + std::to_string(::GetCurrentProcessId());
        server_ = ::CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                     4096, 0, nullptr);
        ASSERT_NE(server_, INVALID_HANDLE_VALUE);
        client_ = platform_.Open(name_);
        ASSERT_NE(client_, kNoHandle);
    }
    void TearDown() override {
        if (client_ != kNoHandle) platform_.Close(client_);
        if (server_ != INVALID_HANDLE_VALUE) ::CloseHandle(server_);
    }
    void ServerSends(const std::vector<uint8_t>& bytes) {
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(server_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr));
        ASSERT_EQ(written, bytes.size());
    }

    WinHidPlatform platform_;
    std::string name_;
    HANDLE server_ = INVALID_HANDLE_VALUE;
    HidHandle client_ = kNoHandle;
};

TEST_F(OverlappedIoTest, ReadTimesOutThenDeliversTheNextReport) {
    uint8_t buffer[64];
    size_t length = 0;
    EXPECT_EQ(platform_.ReadReport(client_, buffer, sizeof buffer, &length, 0),
              ReadStatus::kTimedOut);
    EXPECT_EQ(platform_.ReadReport(client_, buffer, sizeof buffer, &length, 0),
              ReadStatus::kTimedOut);

    const std::vector<uint8_t> report = {0x00, 0x01, 0x03, 0x8C, 0xFD, 0xCA, 0x00, 0x00, 0x00};
    ServerSends(report);
    ASSERT_EQ(platform_.ReadReport(client_, buffer, sizeof buffer, &length, 10000),
              ReadStatus::kReport);
    ASSERT_EQ(length, report.size());
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + length), report);
}

TEST_F(OverlappedIoTest, WriteReturnsOnceTheReportWentOut) {
    const uint8_t report[9] = {0x00, 0x20, 0x04, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00};
    EXPECT_EQ(platform_.WriteReport(client_, report, sizeof report), 9);
    uint8_t received[16] = {};
    DWORD got = 0;
    ASSERT_TRUE(::ReadFile(server_, received, sizeof received, &got, nullptr));
    ASSERT_EQ(got, 9u);
    EXPECT_EQ(std::vector<uint8_t>(received, received + 9),
              std::vector<uint8_t>(report, report + 9));
}

TEST_F(OverlappedIoTest, ReadFailsWhenTheOtherEndIsGone) {
    ::CloseHandle(server_);
    server_ = INVALID_HANDLE_VALUE;
    uint8_t buffer[64];
    size_t length = 0;
    EXPECT_EQ(platform_.ReadReport(client_, buffer, sizeof buffer, &length, 10000),
              ReadStatus::kFailed);
}

// The link's reader over a Windows handle: it delivers what arrives, and a
// stop request ends it although no further report comes.
TEST_F(OverlappedIoTest, ReaderDeliversAndStopsWhileItsReadIsPending) {
    WakeSignal stored;
    CDHidThread reader(platform_, client_, 9, &stored);
    ASSERT_TRUE(reader.Start());
    const std::vector<uint8_t> report = {0x00, 0x01, 0x02, 0x8C, 0xCA, 0x00, 0x00, 0x00, 0x00};
    ServerSends(report);
    ASSERT_TRUE(RealClock().WaitFor(stored, Millis(10000)));
    uint8_t taken[9] = {};
    int32_t length = 0;
    reader.TakeReport(taken, 9, &length);
    ASSERT_EQ(length, 9);
    EXPECT_EQ(std::vector<uint8_t>(taken, taken + 9), report);

    // Nothing more arrives: the reader sits in a read that only its time-out
    // and cancellation end.
    reader.RequestStop();
    EXPECT_TRUE(reader.Wait(10000));
}

}  // namespace
}  // namespace farsend::link

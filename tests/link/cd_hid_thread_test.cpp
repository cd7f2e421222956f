#include "link/cd_hid_thread.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_hid_platform.h"

namespace farsend::link {
namespace {

using testing::FakeHidPlatform;

std::vector<uint8_t> Report(int length, int count, uint8_t fill) {
    std::vector<uint8_t> r(static_cast<size_t>(length), 0);
    r[1] = 0x20;
    r[2] = static_cast<uint8_t>(count);
    for (int i = 3; i < length; ++i) r[static_cast<size_t>(i)] = fill;
    return r;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(CDHidThread, ReadBufferHoldsWholeReportsJustUnderTheRing) {
    struct Case {
        int length;
        int buffer;
    };
    for (Case c : {Case{8, 3992}, Case{32, 3968}, Case{64, 3904}, Case{9, 3987}, Case{65, 3900}}) {
        EXPECT_EQ(CDHidThread::ReadBufferLength(c.length), c.buffer) << c.length;
    }
}

TEST(CDHidThread, UsableReportLengths) {
    for (int length : {0, 1, 2, 3, 2001, 4000}) {
        EXPECT_FALSE(CDHidThread::IsUsableReportLength(length)) << length;
    }
    for (int length : {4, 9, 33, 65, 1024, 2000}) {
        EXPECT_TRUE(CDHidThread::IsUsableReportLength(length)) << length;
    }
}

// What one platform read delivers, and which of its reports end in the ring.
struct ReadCase {
    std::string name;
    std::vector<uint8_t> read;
    std::vector<uint8_t> expectedFills;  // the reports kept, by their fill byte
};

class ReaderFilter : public ::testing::TestWithParam<ReadCase> {};

constexpr int kLength = 9;

TEST_P(ReaderFilter, KeepsOnlyReportsWithAPlausibleCount) {
    FakeHidPlatform platform;
    platform.interfaces.push_back(FakeHidPlatform::Bridge("bridge", 1, 2, kLength, kLength));
    const HidHandle handle = platform.Open("bridge");
    WakeSignal stored;
    CDHidThread reader(platform, handle, kLength, &stored);
    ASSERT_TRUE(reader.Start());

    platform.QueueRead(GetParam().read);
    ASSERT_TRUE(platform.WaitUntilReaderIdle());

    std::vector<uint8_t> fills;
    uint8_t report[kLength];
    int32_t taken = -1;
    while (reader.TakeReport(report, kLength, &taken) && taken == kLength) {
        fills.push_back(report[3]);
    }
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(fills, GetParam().expectedFills);
    EXPECT_EQ(stored.Consume(), !GetParam().expectedFills.empty());

    reader.RequestStop();
    EXPECT_TRUE(reader.Wait(-1));
}

std::vector<ReadCase> ReadCases() {
    return {ReadCase{"SecondOfThreeHasCountZero",
                     Join({Report(kLength, 3, 0xA1), Report(kLength, 0, 0xA2),
                           Report(kLength, 2, 0xA3)}),
                     {0xA1, 0xA3}},
            ReadCase{"CountEqualToLengthKept", Report(kLength, kLength, 0xB1), {0xB1}},
            ReadCase{"CountAboveLengthDropped", Report(kLength, kLength + 1, 0xB2), {}},
            ReadCase{"Count0x80AndAboveDropped",
                     Join({Report(kLength, 0x80, 0xC1), Report(kLength, 0xFF, 0xC2),
                           Report(kLength, 1, 0xC3)}),
                     {0xC3}},
            ReadCase{"NotAWholeNumberOfReportsDroppedWhole",
                     [] {
                         auto r = Join({Report(kLength, 1, 0xD1), Report(kLength, 1, 0xD2)});
                         r.pop_back();
                         return r;
                     }(),
                     {}},
            ReadCase{"EmptyReadDropped", {}, {}}};
}

INSTANTIATE_TEST_SUITE_P(Reads, ReaderFilter, ::testing::ValuesIn(ReadCases()),
                         [](const auto& info) { return info.param.name; });

TEST(CDHidThread, TakeReportWithAnotherLengthLeavesRingAndTakenAlone) {
    FakeHidPlatform platform;
    platform.interfaces.push_back(FakeHidPlatform::Bridge("bridge", 1, 2, kLength, kLength));
    const HidHandle handle = platform.Open("bridge");
    CDHidThread reader(platform, handle, kLength);
    ASSERT_TRUE(reader.Start());
    platform.QueueRead(Report(kLength, 1, 0x11));
    ASSERT_TRUE(platform.WaitUntilReaderIdle());

    uint8_t report[2 * kLength];
    int32_t taken = 123;
    EXPECT_TRUE(reader.TakeReport(report, kLength - 1, &taken));
    EXPECT_EQ(taken, 123);
    EXPECT_TRUE(reader.TakeReport(report, 2 * kLength, &taken));
    EXPECT_EQ(taken, 123);
    EXPECT_EQ(reader.BufferedBytes(), kLength);
    EXPECT_TRUE(reader.TakeReport(report, kLength, &taken));
    EXPECT_EQ(taken, kLength);
}

TEST(CDHidThread, FullRingLosesLaterReportsAndKeepsOrder) {
    // 3999 bytes hold 62 reports of 64 bytes; the read buffer carries 61 per
    // read, so two reads overfill the ring.
    constexpr int kLen = 64;
    FakeHidPlatform platform;
    platform.interfaces.push_back(FakeHidPlatform::Bridge("bridge", 1, 2, kLen, kLen));
    const HidHandle handle = platform.Open("bridge");
    CDHidThread reader(platform, handle, kLen);
    ASSERT_TRUE(reader.Start());
    for (int read = 0; read < 2; ++read) {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < 61; ++i) {
            auto r = Report(kLen, 1, static_cast<uint8_t>(read * 61 + i));
            bytes.insert(bytes.end(), r.begin(), r.end());
        }
        platform.QueueRead(bytes);
    }
    ASSERT_TRUE(platform.WaitUntilReaderIdle());
    uint8_t report[kLen];
    int32_t taken = 0;
    int kept = 0;
    while (reader.TakeReport(report, kLen, &taken) && taken == kLen) {
        EXPECT_EQ(report[3], kept);
        ++kept;
    }
    EXPECT_EQ(kept, 62);
}

TEST(CDHidThread, StopWhileTheBridgeIsSilentEndsWithinTheReadTimeout) {
    FakeHidPlatform platform;
    platform.interfaces.push_back(FakeHidPlatform::Bridge("bridge", 1, 2));
    const HidHandle handle = platform.Open("bridge");
    CDHidThread reader(platform, handle, 65);
    ASSERT_TRUE(reader.Start());
    ASSERT_TRUE(platform.WaitUntilReaderIdle());  // blocked in a read that gets nothing

    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(reader.RequestStop());
    EXPECT_TRUE(reader.Wait(-1));
    const auto took = std::chrono::steady_clock::now() - start;
    // The read times out after 20 ms; the bound leaves room for a loaded
    // machine and a sanitizer, and still fails a read that waits for input.
    EXPECT_LT(took, std::chrono::seconds(1));
    EXPECT_EQ(reader.ExitCode(), 0);
}

TEST(CDHidThread, FailingReadsKeepTheLoopGoingUntilStopped) {
    FakeHidPlatform platform;
    platform.interfaces.push_back(FakeHidPlatform::Bridge("bridge", 1, 2));
    CDHidThread reader(platform, /*readHandle=*/999, 65);  // a handle the fake does not know
    ASSERT_TRUE(reader.Start());
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (platform.ReadCalls() < 3 && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(platform.ReadCalls(), 3);
    EXPECT_TRUE(reader.IsRunning());
    reader.RequestStop();
    EXPECT_TRUE(reader.Wait(-1));
}

TEST(CDHidThread, UnusableReportLengthEndsTheThreadAtOnce) {
    FakeHidPlatform platform;
    CDHidThread reader(platform, 1, 3);
    ASSERT_TRUE(reader.Start());
    EXPECT_TRUE(reader.Wait(-1));
    EXPECT_EQ(reader.ExitCode(), -1);
    EXPECT_EQ(platform.ReadCalls(), 0);
}

}  // namespace
}  // namespace farsend::link

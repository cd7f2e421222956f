#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_fixture.h"

namespace farsend::link {
namespace {

using testing::LinkTest;

constexpr uint16_t kIn = 9;

std::vector<uint8_t> Input(int count, std::vector<uint8_t> payload) {
    std::vector<uint8_t> r(kIn, 0);
    r[2] = static_cast<uint8_t>(count);
    for (size_t i = 0; i < payload.size() && 3 + i < r.size(); ++i) r[3 + i] = payload[i];
    return r;
}

class HidLinkReadTest : public LinkTest {
protected:
    void SetUp() override {
        AddBridge(kIn, kIn);
        OpenAndClearLog();
    }
    // Hands reports to the reader and waits until it has stored them.
    void Deliver(std::initializer_list<std::vector<uint8_t>> reads) {
        for (const auto& read : reads) platform.QueueRead(read);
        ASSERT_TRUE(platform.WaitUntilReaderIdle());
    }
    std::vector<int> ReadAll(int calls) {
        std::vector<int> results;
        for (int i = 0; i < calls; ++i) {
            uint8_t byte = 0;
            const int result = LinkResultCode(HidLinkReadByte(link, &byte));
            results.push_back(result == 0 ? byte : result);
        }
        return results;
    }
};

// What a run of input reports yields through HidLinkReadByte.
struct ReadCase {
    std::string name;
    std::vector<std::vector<uint8_t>> reports;
    std::vector<int> expected;  // a byte, or -1
};

class HidLinkReadTable : public HidLinkReadTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(HidLinkReadTable, YieldsTheBytesInOrder) {
    for (const auto& report : GetParam().reports) platform.QueueRead(report);
    ASSERT_TRUE(platform.WaitUntilReaderIdle());
    EXPECT_EQ(ReadAll(static_cast<int>(GetParam().expected.size())), GetParam().expected);
}

std::vector<ReadCase> ReadCases() {
    return {
        {"CountsThreeOneTwo",
         {Input(3, {0x11, 0x12, 0x13}), Input(1, {0x21}), Input(2, {0x31, 0x32})},
         {0x11, 0x12, 0x13, 0x21, 0x31, 0x32, -1, -1}},
        {"CountZeroYieldsNothingNextFollows",
         {Input(2, {0x41, 0x42}), Input(0, {0x99}), Input(1, {0x43})},
         {0x41, 0x42, 0x43, -1}},
        {"FullPayload", {Input(6, {1, 2, 3, 4, 5, 6})}, {1, 2, 3, 4, 5, 6, -1}},
        // Counts 7..9 name bytes beyond a 9-byte report; only its 6 are read.
        {"CountBeyondTheReportEndIsCut",
         {Input(9, {1, 2, 3, 4, 5, 6}), Input(1, {0x77})},
         {1, 2, 3, 4, 5, 6, 0x77, -1}},
        {"NothingBuffered", {}, {-1, -1}},
    };
}

INSTANTIATE_TEST_SUITE_P(Reports, HidLinkReadTable, ::testing::ValuesIn(ReadCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(HidLinkReadTest, ReadReportWithAnotherLengthLeavesTheReaderAlone) {
    Deliver({Input(1, {0x55})});
    uint8_t report[64];
    EXPECT_EQ(HidLinkReadReport(link, report, kIn - 1), link::LinkResult::BadArgument);
    EXPECT_EQ(HidLinkReadReport(link, report, kIn + 1), link::LinkResult::BadArgument);
    EXPECT_EQ(HidLinkReadReport(link, nullptr, kIn), link::LinkResult::BadArgument);
    EXPECT_EQ(link.reader->BufferedBytes(), kIn);
    EXPECT_EQ(HidLinkReadReport(link, report, kIn), link::LinkResult::Ok);
    EXPECT_EQ(report[3], 0x55);
    EXPECT_EQ(HidLinkReadReport(link, report, kIn), link::LinkResult::BadArgument)
        << "nothing buffered now";
}

TEST_F(HidLinkReadTest, BytesLeftUnreadAtCloseAreGoneAfterReopen) {
    Deliver({Input(3, {1, 2, 3})});
    uint8_t byte;
    ASSERT_EQ(HidLinkReadByte(link, &byte), link::LinkResult::Ok);
    HidLinkClose(link);
    EXPECT_EQ(HidLinkReadByte(link, &byte), link::LinkResult::BadArgument);
    ASSERT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
    EXPECT_EQ(HidLinkReadByte(link, &byte), link::LinkResult::NothingAvailable);
}

TEST_F(HidLinkReadTest, WaitReadableSleepsOnTheClockUntilTheReaderStores) {
    // Nothing arrives: the whole timeout passes on the virtual clock.
    const Millis before = clock.Slept();
    EXPECT_FALSE(HidLinkWaitReadable(link, Millis(40)));
    EXPECT_EQ((clock.Slept() - before).count(), 40);

    // The reader stored a report: the wait returns at once.
    Deliver({Input(2, {0xA, 0xB})});
    const Millis mark = clock.Slept();
    EXPECT_TRUE(HidLinkWaitReadable(link, Millis(40)));
    EXPECT_EQ(clock.Slept(), mark);

    // A byte still waiting in the receive buffer counts too, even after the
    // reader's notification was used up.
    uint8_t byte;
    ASSERT_EQ(HidLinkReadByte(link, &byte), link::LinkResult::Ok);
    link.readable.Consume();
    EXPECT_TRUE(HidLinkWaitReadable(link, Millis(40)));
    ASSERT_EQ(HidLinkReadByte(link, &byte), link::LinkResult::Ok);
    EXPECT_FALSE(HidLinkWaitReadable(link, Millis(40)));
}

}  // namespace
}  // namespace farsend::link

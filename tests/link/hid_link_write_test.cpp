#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_fixture.h"

namespace farsend::link {
namespace {

using testing::LinkTest;

struct FramingCase {
    std::string name;
    uint16_t outLength;
    bool legacy;
    int length;
    std::vector<int> counts;  // payload count of each report, in order
    int pauseMs;              // pause after each report (0: none)
};

class HidLinkFraming : public LinkTest, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(HidLinkFraming, SplitsFramesAndPaces) {
    const FramingCase& c = GetParam();
    AddBridge(65, c.outLength);
    if (c.legacy) platform.fileVersion = "4.10.1998";
    OpenAndClearLog();

    std::vector<uint8_t> bytes(static_cast<size_t>(c.length > 0 ? c.length : 1));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    const size_t before = platform.Writes().size();
    ASSERT_EQ(HidLinkWrite(link, bytes.data(), static_cast<int16_t>(c.length)),
              link::LinkResult::Ok);

    const auto all = platform.Writes();
    const std::vector<std::vector<uint8_t>> reports(all.begin() + static_cast<long>(before),
                                                    all.end());
    ASSERT_EQ(reports.size(), c.counts.size());
    const size_t header = c.legacy ? 4 : 3;
    size_t sent = 0;
    for (size_t r = 0; r < reports.size(); ++r) {
        const auto& report = reports[r];
        SCOPED_TRACE("report " + std::to_string(r));
        ASSERT_EQ(report.size(), c.outLength);
        EXPECT_EQ(report[0], 0x00);
        if (c.legacy) {
            EXPECT_EQ(report[1], 0xF6);
        }
        EXPECT_EQ(report[header - 2], 0x20);
        ASSERT_EQ(report[header - 1], c.counts[r]);
        for (size_t k = 0; k < static_cast<size_t>(c.counts[r]); ++k) {
            ASSERT_EQ(report[header + k], bytes[sent + k]);
        }
        for (size_t k = header + static_cast<size_t>(c.counts[r]); k < report.size(); ++k) {
            ASSERT_EQ(report[k], 0) << "fill after the payload";
        }
        sent += static_cast<size_t>(c.counts[r]);
    }
    if (c.length > 0) {
        EXPECT_EQ(sent, static_cast<size_t>(c.length));
    }

    // Each report is followed by its pause, or by none.
    std::vector<std::string> expected;
    for (size_t r = 0; r < c.counts.size(); ++r) {
        expected.push_back("write");
        if (c.pauseMs > 0) expected.push_back("sleep " + std::to_string(c.pauseMs));
    }
    std::vector<std::string> actual;
    for (const auto& line : Log()) actual.push_back(line.rfind("write", 0) == 0 ? "write" : line);
    EXPECT_EQ(actual, expected);
}

std::vector<int> Repeat(int count, int times, std::vector<int> tail = {}) {
    std::vector<int> all(static_cast<size_t>(times), count);
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

std::vector<FramingCase> FramingCases() {
    return {
        {"ZeroLengthSendsNothing", 65, false, 0, {}, 0},
        {"NegativeLengthSendsNothing", 9, false, -3, {}, 0},
        {"Out9OneByteNoPause", 9, false, 1, {1}, 0},
        {"Out9TwoBytesPause15", 9, false, 2, {2}, 15},
        {"Out9ExactlyOneReport", 9, false, 6, {6}, 15},
        {"Out9OneMoreByteTwoReports", 9, false, 7, {6, 1}, 15},
        {"Out8CommandOfFour", 8, false, 4, {4}, 15},
        {"Out8BlockOf268", 8, false, 268, Repeat(5, 53, {3}), 15},
        {"Out32TwoBytesPause15", 32, false, 2, {2}, 15},
        {"Out33ExactlyOneReport", 33, false, 30, {30}, 0},
        {"Out33OneMoreByteTwoReports", 33, false, 31, {30, 1}, 0},
        {"Out64NeverPauses", 64, false, 268, Repeat(61, 4, {24}), 0},
        {"Out65ExactlyOneReport", 65, false, 62, {62}, 0},
        {"Out65OneMoreByte", 65, false, 63, {62, 1}, 0},
        {"Out258FullCountByte", 258, false, 268, {255, 13}, 0},
        {"Out259CountNeverWraps", 259, false, 268, {255, 13}, 0},
        {"Out1024CountNeverWraps", 1024, false, 600, {255, 255, 90}, 0},
        {"LegacyOut9", 9, true, 12, {5, 5, 2}, 2},
        {"LegacyOneByteStillPauses", 9, true, 1, {1}, 2},
        {"LegacyOut65StillFiveABatch", 65, true, 11, {5, 5, 1}, 2},
        {"LegacyOut33Command", 33, true, 4, {4}, 2},
        {"LegacyOut6CarriesWhatFits", 6, true, 5, {2, 2, 1}, 2},
    };
}

INSTANTIATE_TEST_SUITE_P(Lengths, HidLinkFraming, ::testing::ValuesIn(FramingCases()),
                         [](const auto& info) { return info.param.name; });

class HidLinkWriteTest : public LinkTest {};

TEST_F(HidLinkWriteTest, FailedReportStopsTheWriteAndKeepsTheLinkOpen) {
    AddBridge(9, 9);
    OpenAndClearLog();
    platform.failWriteNumber = 3;  // the open wrote report 1; this write's second fails
    const uint8_t bytes[20] = {};
    EXPECT_EQ(HidLinkWrite(link, bytes, 20), link::LinkResult::ReportFailed);
    EXPECT_EQ(LogLines("write").size(), 2u) << "nothing after the failed report";
    EXPECT_NE(link.writeHandle, kNoHandle);
    platform.failWriteNumber = 0;
    EXPECT_EQ(HidLinkWrite(link, bytes, 3), link::LinkResult::Ok);
}

TEST_F(HidLinkWriteTest, NullBytesAreABadArgument) {
    AddBridge();
    OpenAndClearLog();
    EXPECT_EQ(HidLinkWrite(link, nullptr, 4), link::LinkResult::BadArgument);
    EXPECT_TRUE(Log().empty());
}

TEST_F(HidLinkWriteTest, UnusableOutputLengthRefusesInsteadOfLooping) {
    // Lengths the open refuses, set behind its back: the write must end.
    AddBridge();
    OpenAndClearLog();
    const uint8_t bytes[4] = {1, 2, 3, 4};
    for (uint16_t length : {0, 1, 2, 3}) {
        link.caps.outputReportByteLength = length;
        EXPECT_EQ(HidLinkWrite(link, bytes, 4), link::LinkResult::ReportFailed) << length;
    }
    link.win98Mode = 1;
    link.caps.outputReportByteLength = 4;
    EXPECT_EQ(HidLinkWrite(link, bytes, 4), link::LinkResult::ReportFailed);
    EXPECT_TRUE(Log().empty());
    link.caps.outputReportByteLength = 65;
}

TEST_F(HidLinkWriteTest, WriteReportChecksTheLength) {
    AddBridge(65, 33);
    OpenAndClearLog();
    uint8_t report[65] = {};
    EXPECT_EQ(HidLinkWriteReport(link, report, 32), link::LinkResult::ReportFailed);
    EXPECT_EQ(HidLinkWriteReport(link, report, 65), link::LinkResult::ReportFailed);
    EXPECT_EQ(HidLinkWriteReport(link, report, 33), link::LinkResult::Ok);
    EXPECT_EQ(LogLines("write").size(), 1u);
}

}  // namespace
}  // namespace farsend::link

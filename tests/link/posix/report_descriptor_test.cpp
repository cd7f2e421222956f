#include "link/posix/report_descriptor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace farsend::link {
namespace {

struct DescriptorCase {
    const char* name;
    std::vector<uint8_t> bytes;
    bool valid;
    ReportLengths expected;  // only when valid
};

std::vector<uint8_t> DeepPushes(size_t count) {
    std::vector<uint8_t> bytes{0x75, 0x08, 0x95, 0x01};
    bytes.insert(bytes.end(), count, 0xA4);
    bytes.insert(bytes.end(), {0x81, 0x02});
    return bytes;
}

// The shape of a typical HID-to-UART bridge: a vendor page, one unnumbered
// 64-byte input and output report and a 5-byte feature report.
const std::vector<uint8_t> kUnnumberedBridge = {
    0x06, 0x00, 0xFF,  // usage page (vendor)
    0x09, 0x01,        // usage
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        // logical minimum 0
    0x26, 0xFF, 0x00,  // logical maximum 255
    0x75, 0x08,        // report size 8
    0x95, 0x40,        // report count 64
    0x09, 0x01, 0x81, 0x02,  // input
    0x95, 0x40,              // report count 64
    0x09, 0x01, 0x91, 0x02,  // output
    0x95, 0x05,              // report count 5
    0x09, 0x01, 0xB1, 0x02,  // feature
    0xC0,                    // end collection
};

const std::vector<DescriptorCase> kCases = {
    {"NoReportIds", kUnnumberedBridge, true, {65, 65, 6, false}},
    {"SeveralReportIdsTakeTheLongest",
     {0x75, 0x08,                    // size 8
      0x85, 0x01, 0x95, 0x08, 0x81, 0x02,  // ID 1: 8-byte input
      0x85, 0x02, 0x95, 0x10, 0x81, 0x02,  // ID 2: 16-byte input
      0x85, 0x03, 0x95, 0x20, 0x91, 0x02,  // ID 3: 32-byte output
      0x85, 0x01, 0x95, 0x04, 0x81, 0x02},  // ID 1 again: now 12 bytes
     true,
     {17, 33, 0, true}},
    {"PushAndPopRestoreCountAndId",
     {0x75, 0x08, 0x95, 0x10, 0x85, 0x01,
      0xA4,                    // push: size 8, count 16, ID 1
      0x95, 0x02, 0x85, 0x02,  // count 2, ID 2
      0x81, 0x02,              // ID 2: 2 bytes
      0xB4,                    // pop
      0x81, 0x02},             // ID 1: 16 bytes
     true,
     {17, 0, 0, true}},
    {"LongItemIsSkipped",
     {0xFE, 0x02, 0x10, 0xAA, 0xBB,  // long item with two data bytes
      0x75, 0x08, 0x95, 0x04, 0x81, 0x02},
     true,
     {5, 0, 0, false}},
    {"BitsRoundUpToWholeBytes",
     {0x75, 0x01, 0x95, 0x03, 0x81, 0x02,   // 3 bits
      0x75, 0x05, 0x95, 0x01, 0x81, 0x03,   // 5 bits of padding: 1 byte
      0x75, 0x01, 0x95, 0x09, 0x91, 0x02},  // 9 bits: 2 bytes
     true,
     {2, 3, 0, false}},
    {"TwoAndFourByteValuesAreLittleEndian",
     {0x75, 0x08, 0x96, 0x00, 0x01, 0x81, 0x02,     // count 256 (2-byte value)
      0x97, 0x80, 0x00, 0x00, 0x00, 0xB1, 0x02},    // count 128 (4-byte value)
     true,
     {257, 0, 129, false}},
    {"MainItemWithZeroBitsStillCountsTheIdByte",
     {0x75, 0x08, 0x95, 0x00, 0x91, 0x02},
     true,
     {0, 1, 0, false}},
    {"Empty", {}, false, {}},
    {"TruncatedShortItem", {0x75, 0x08, 0x95}, false, {}},
    {"TruncatedFourByteItem", {0x97, 0x01, 0x02}, false, {}},
    {"TruncatedLongItemHeader", {0xFE, 0x05}, false, {}},
    {"TruncatedLongItemData", {0xFE, 0x05, 0x10, 0xAA}, false, {}},
    {"PopWithoutPush", {0x75, 0x08, 0xB4, 0x81, 0x02}, false, {}},
    {"ReportIdZero", {0x85, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, false, {}},
    {"ReportIdAbove255", {0x86, 0x00, 0x01, 0x75, 0x08, 0x81, 0x02}, false, {}},
    {"PushNestedTooDeep", DeepPushes(17), false, {}},
    {"ReportLongerThan16BitLength",
     {0x75, 0xFF, 0x96, 0xFF, 0xFF, 0x81, 0x02}, false, {}},
    {"HugeSizeTimesCountDoesNotWrap",
     {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02}, false, {}},
};

class ReportDescriptorTest : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(ReportDescriptorTest, Lengths) {
    const DescriptorCase& c = GetParam();
    // Copy into an exactly sized heap block so that AddressSanitizer sees any
    // read past the end.
    std::vector<uint8_t> bytes(c.bytes);
    const auto result = ParseReportDescriptor(bytes.empty() ? nullptr : bytes.data(), bytes.size());
    ASSERT_EQ(result.has_value(), c.valid);
    if (!c.valid) return;
    EXPECT_EQ(result->input, c.expected.input);
    EXPECT_EQ(result->output, c.expected.output);
    EXPECT_EQ(result->feature, c.expected.feature);
    EXPECT_EQ(result->usesReportIds, c.expected.usesReportIds);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportDescriptorTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReportDescriptorDepthTest, SixteenPushesAreAccepted) {
    const std::vector<uint8_t> bytes = DeepPushes(16);
    EXPECT_TRUE(ParseReportDescriptor(bytes.data(), bytes.size()).has_value());
}

TEST(ReportDescriptorPrefixTest, CutsInsideAnItemAreRefusedCutsBetweenItemsParse) {
    // Offsets where an item of kUnnumberedBridge ends.
    const std::vector<size_t> itemEnds = {3, 5, 7, 9, 12, 14, 16, 18, 20, 22, 24,
                                          26, 28, 30, 32, 33};
    for (size_t cut = 0; cut <= kUnnumberedBridge.size(); ++cut) {
        std::vector<uint8_t> prefix(kUnnumberedBridge.begin(), kUnnumberedBridge.begin() + cut);
        const bool atItemEnd =
            std::find(itemEnds.begin(), itemEnds.end(), cut) != itemEnds.end();
        EXPECT_EQ(ParseReportDescriptor(prefix.data(), prefix.size()).has_value(), atItemEnd)
            << "cut at " << cut;
    }
}

}  // namespace
}  // namespace farsend::link

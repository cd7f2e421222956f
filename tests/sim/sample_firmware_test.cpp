#include "sim/sample_firmware.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_directory.h"

namespace farsend::sim {
namespace {

// Reads token text back into runs, independently of the generator, and
// checks the format's rules on the way: tokens are 2 or 8 hex digits, the
// file starts with an address, addresses only jump forward past the data.
struct ParsedImage {
    std::vector<ImageRun> runs;
    std::string problem;  // empty when the text follows the format
};

ParsedImage ParseTokens(const std::string& text) {
    ParsedImage parsed;
    std::istringstream in(text);
    std::string token;
    uint32_t next = 0;
    while (in >> token) {
        for (char c : token) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                parsed.problem = "not hexadecimal: " + token;
                return parsed;
            }
        }
        const uint32_t value = static_cast<uint32_t>(std::stoul(token, nullptr, 16));
        if (token.size() == 8 && value >= 0x100) {
            if (!parsed.runs.empty() && value <= next) {
                parsed.problem = "address does not jump forward: " + token;
                return parsed;
            }
            parsed.runs.push_back({value, {}});
            next = value;
        } else if (token.size() == 2) {
            if (parsed.runs.empty()) {
                parsed.problem = "data before the first address";
                return parsed;
            }
            parsed.runs.back().data.push_back(static_cast<uint8_t>(value));
            ++next;
        } else {
            parsed.problem = "token of unexpected form: " + token;
            return parsed;
        }
    }
    return parsed;
}

bool SameRuns(const std::vector<ImageRun>& a, const std::vector<ImageRun>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].address != b[i].address || a[i].data != b[i].data) return false;
    }
    return true;
}

TEST(FormatImage, WritesAddressLinesAndSixteenBytesALine) {
    struct Case {
        std::vector<ImageRun> runs;
        std::string lineEnd;
        std::string text;
    };
    std::vector<uint8_t> seventeen(17);
    for (size_t i = 0; i < seventeen.size(); ++i) seventeen[i] = static_cast<uint8_t>(0xF0 + i);
    const std::vector<Case> cases = {
        {{{0x4000, {0x01, 0x02, 0x04}}}, "\n", "00004000\n01 02 04\n"},
        {{{0x4000, {0xAA, 0xBB}}, {0x4010, {0xCC}}},
         "\r\n",
         "00004000\r\nAA BB\r\n00004010\r\nCC\r\n"},
        {{{0x12345678, {}}}, "\n", "12345678\n"},
        {{{0x100, seventeen}},
         "\n",
         "00000100\nF0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF\n00\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatImage(c.runs, c.lineEnd), c.text);
}

TEST(SampleSet, OneImageForEveryVariantVersionAndKind) {
    const std::vector<SampleImage> set = SampleImageSet();
    std::set<std::string> names;
    for (const SampleImage& image : set) names.insert(image.fileName);
    EXPECT_EQ(names, (std::set<std::string>{
                         "Farsend_10_bt.hex", "Farsend_10_bt_f.hex", "Farsend_15_bt.hex",
                         "Farsend_15_bt_f.hex", "Farsend_20_bt.hex", "Farsend_20_bt_f.hex",
                         "Farsend_10_802.hex", "Farsend_10_802_f.hex", "Farsend_15_802.hex",
                         "Farsend_15_802_f.hex", "Farsend_20_802.hex", "Farsend_20_802_f.hex"}));
    for (const SampleImage& image : set) {
        EXPECT_EQ(image.fileName, SampleFileName(image.variant, image.version, image.factory));
    }
}

TEST(SampleSet, ContentsAreValidAndShapedLikeRealFirmware) {
    int endingOnBoundary = 0;
    for (const SampleImage& image : SampleImageSet()) {
        SCOPED_TRACE(image.fileName);
        const ParsedImage parsed = ParseTokens(FormatImage(image.runs));
        ASSERT_EQ(parsed.problem, "");
        EXPECT_TRUE(SameRuns(parsed.runs, image.runs));

        EXPECT_GE(image.DataBytes(), 60u * 1024);
        EXPECT_LE(image.DataBytes(), 200u * 1024);
        EXPECT_GE(image.runs.size(), 3u);
        EXPECT_EQ(image.runs.front().address, image.factory ? 0x100u : 0x4000u);

        bool partialBlock = false;
        for (const ImageRun& run : image.runs) {
            EXPECT_FALSE(run.data.empty());
            if (run.data.size() % 256 != 0) partialBlock = true;
        }
        EXPECT_TRUE(partialBlock);

        const ImageRun& last = image.runs.back();
        const bool onBoundary = last.address % 256 == 0 && last.data.size() % 256 == 0;
        if (onBoundary) {
            ++endingOnBoundary;
            EXPECT_EQ(image.fileName, "Farsend_20_802.hex");
        }
    }
    EXPECT_EQ(endingOnBoundary, 1);
}

// FNV-1a of the text: the set must come out byte for byte the same on every
// run and every platform (Linux and Windows builds check the same value).
uint64_t Fingerprint(const std::string& text) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

TEST(SampleSet, IsDeterministic) {
    std::string all;
    for (const SampleImage& image : SampleImageSet()) all += FormatImage(image.runs);
    std::string again;
    for (const SampleImage& image : SampleImageSet()) again += FormatImage(image.runs);
    EXPECT_EQ(all, again);
    EXPECT_EQ(Fingerprint(all), 0x165724f9b32f55f3ull) << std::hex << Fingerprint(all);
}

TEST(SampleSet, WrittenFilesHoldExactlyTheFormattedText) {
    farsend::testing::TempDirectory temp;
    const std::filesystem::path dir = temp.path() / "new" / "samples";
    std::string error;
    ASSERT_TRUE(WriteSampleSet(dir, &error)) << error;
    for (const SampleImage& image : SampleImageSet()) {
        std::ifstream in(dir / image.fileName, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        EXPECT_EQ(text, FormatImage(image.runs)) << image.fileName;
    }
}

TEST(SampleSet, UnwritableDirectoryIsReported) {
    farsend::testing::TempDirectory temp;
    temp.Touch("occupied");
    std::string error;
    EXPECT_FALSE(WriteSampleSet(temp.path() / "occupied" / "inside", &error));
    EXPECT_NE(error, "");
}

}  // namespace
}  // namespace farsend::sim

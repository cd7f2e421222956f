#include "sim/flash_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace farsend::sim {
namespace {

FlashContents Bytes(uint32_t address, size_t count, uint8_t first) {
    FlashContents flash;
    for (size_t i = 0; i < count; ++i) {
        flash[address + static_cast<uint32_t>(i)] = static_cast<uint8_t>(first + i);
    }
    return flash;
}

FlashContents Merge(FlashContents a, const FlashContents& b) {
    a.insert(b.begin(), b.end());
    return a;
}

struct FormatCase {
    const char* name;
    FlashContents flash;
    std::string text;
};

TEST(FlashFile, EachRunIsAnAddressThenSixteenBytesToALine) {
    const std::vector<FormatCase> cases = {
        {"empty flash", {}, ""},
        {"one byte", Bytes(0x4000, 1, 0xAB), "00004000\nAB\n"},
        {"upper-case digits, full line", Bytes(0xDEADBEEF - 15, 16, 0xF0),
         "DEADBEE0\nF0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF\n"},
        {"seventeen bytes wrap to a second line", Bytes(0x100, 17, 0x00),
         "00000100\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n10\n"},
        {"a gap starts a new run", Merge(Bytes(0x4000, 2, 0xAA), Bytes(0x4010, 1, 0xCC)),
         "00004000\nAA AB\n00004010\nCC\n"},
        {"a gap right after a full line", Merge(Bytes(0x4000, 16, 0x00), Bytes(0x5000, 2, 0x01)),
         "00004000\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n00005000\n01 02\n"},
        {"the top address and the bottom one are not one run",
         Merge(Bytes(0xFFFFFFFF, 1, 0x11), Bytes(0x0, 1, 0x22)), "00000000\n22\nFFFFFFFF\n11\n"},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatFlashFile(c.flash), c.text);
    }
}

TEST(FlashFile, WrittenFileHoldsExactlyTheFormattedText) {
    const std::string path = ::testing::TempDir() + "farsend_flash_out_test.hex";
    const FlashContents flash = Merge(Bytes(0x4000, 40, 0x00), Bytes(0x8000, 3, 0x7F));
    std::string error;
    ASSERT_TRUE(WriteFlashFile(path, flash, error)) << error;
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), FormatFlashFile(flash));  // no "\r" on any platform
    std::remove(path.c_str());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// The target keeps its flash in pages; what it holds and the file written
// from it must be exactly those of the same bytes kept one by one, in
// whatever order they were programmed and however often.
TEST(FlashFile, PagesHoldAndWriteWhatTheBytesWouldHold) {
    const std::vector<FormatCase> cases = {
        {"empty flash", {}, ""},
        {"across a page boundary", Bytes(0x40F0, 40, 0x10), ""},
        {"page-sized gaps", Merge(Bytes(0x4000, 3, 1), Bytes(0x4200, 2, 9)), ""},
        {"the top and the bottom of the range",
         Merge(Bytes(0xFFFFFFF0, 16, 0x11), Bytes(0x0, 2, 0x22)), ""},
        {"more than the writer's chunk of text", Bytes(0x10000, 70000, 0), ""},
    };
    const std::string path = ::testing::TempDir() + "farsend_flash_pages_test.hex";
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        FlashPages pages;
        // Backwards, each byte first with a wrong value.
        for (auto it = c.flash.rbegin(); it != c.flash.rend(); ++it) {
            pages.Write(it->first, static_cast<uint8_t>(~it->second));
            pages.Write(it->first, it->second);
        }
        EXPECT_EQ(pages.Empty(), c.flash.empty());
        EXPECT_EQ(pages.Contents(), c.flash);
        std::string error;
        ASSERT_TRUE(WriteFlashFile(path, pages, error)) << error;
        EXPECT_EQ(ReadFile(path), FormatFlashFile(c.flash));
        pages.Clear();
        EXPECT_TRUE(pages.Contents().empty());
    }
    std::remove(path.c_str());
}

TEST(FlashFile, UnwritablePathIsReportedWithItsName) {
    const std::string path = ::testing::TempDir() + "no-such-dir/x/flash.hex";
    std::string error;
    EXPECT_FALSE(WriteFlashFile(path, Bytes(0x4000, 1, 1), error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
}

}  // namespace
}  // namespace farsend::sim

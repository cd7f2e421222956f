#include "common/printable_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace farsend {
namespace {

// What targets, bridges and file names have been seen to carry, and what a
// terminal would do with it unescaped.
TEST(PrintableText, WritesOutEveryControlAndLeavesTextAlone) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"1.5.0", "1.5.0"},
        {"1.5.0\x1b[2J\x1b]0;t\a\n\"q", "1.5.0\\e[2J\\e]0;t\\x07\\n\"q"},
        {"Farsend_15_bt\x1b[2J\n\"x.hex", "Farsend_15_bt\\e[2J\\n\"x.hex"},
        {"a\rb\tc", "a\\rb\\tc"},
        {std::string("nul\0in", 6), "nul\\x00in"},
        {"del\x7f", "del\\x7f"},
        // C1 controls: CSI written as one code point, and as a lone byte.
        {"\xc2\x9b"
         "2J",
         "\\u009b2J"},
        {"\x9b"
         "2J",
         "\\x9b2J"},
        // Text in other scripts and Windows paths read as they are.
        {"Ger\xc3\xa4t \xe2\x82\xac \xf0\x9f\x94\xa7",
         "Ger\xc3\xa4t \xe2\x82\xac \xf0\x9f\x94\xa7"},
        {"C:\\Firmware\\Farsend_15_bt.hex", "C:\\Firmware\\Farsend_15_bt.hex"},
        // Overlong, surrogate, truncated: not UTF-8, each byte written out.
        {"\xc0\x8a", "\\xc0\\x8a"},
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"end\xe2\x82", "end\\xe2\\x82"},
    };
    for (const auto& [raw, shown] : rows) {
        EXPECT_EQ(PrintableText(raw), shown) << shown;
        for (const char c : PrintableText(raw)) {
            const auto byte = static_cast<unsigned char>(c);
            EXPECT_FALSE(byte < 0x20 || byte == 0x7f) << shown;
        }
    }
}

}  // namespace
}  // namespace farsend

// The Windows command line: split by the system, converted to the ANSI code
// page, lossy conversions flagged instead of passed on.
#include "app/win/command_line_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

extern "C" __declspec(dllimport) unsigned int __stdcall GetACP();

namespace farsend::app {
namespace {

struct SplitCase {
    std::wstring commandLine;
    std::vector<std::string> words;  // the program's path first
};

// clang-format off
const std::vector<SplitCase> kSplitCases = {
    {L"farsend.exe", {"farsend.exe"}},
    {L"farsend.exe zigbee 1.5", {"farsend.exe", "zigbee", "1.5"}},
    {L"farsend.exe   FACTORY\t exit  ", {"farsend.exe", "FACTORY", "exit"}},
    {L"\"C:\\Program Files\\Farsend\\farsend.exe\" \"C:\\My Firmware\" x",
     {"C:\\Program Files\\Farsend\\farsend.exe", "C:\\My Firmware", "x"}},
    {L"p C:\\fw\\Farsend_15_bt.hex", {"p", "C:\\fw\\Farsend_15_bt.hex"}},
    // Backslashes are literal unless they precede a quote.
    {L"p a\\\\b c\\", {"p", "a\\\\b", "c\\"}},
    {L"p \"a\\\"b\"", {"p", "a\"b"}},
    {L"p a\\\\\\\"b", {"p", "a\\\"b"}},
    {L"p a\\\\\"b c\"", {"p", "a\\b c"}},
    {L"p \"\" x", {"p", "", "x"}},
    {L"p ab\"c d\"e", {"p", "abc de"}},
};
// clang-format on

class SplitTests : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTests, WordsAsTheSystemSplitsThem) {
    const SplitCase& c = GetParam();
    const auto words = SplitCommandLine(c.commandLine);
    ASSERT_TRUE(words.has_value());
    std::vector<std::string> texts;
    for (const CommandLineArgument& word : *words) {
        EXPECT_TRUE(word.exact);
        texts.push_back(word.text);
    }
    EXPECT_EQ(texts, c.words);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, SplitTests, ::testing::ValuesIn(kSplitCases));

TEST(SplitCommandLine, ConvertsToTheAnsiCodePageAndFlagsLostCharacters) {
    if (GetACP() != 1252) GTEST_SKIP() << "expects the Western code page 1252, have " << GetACP();
    const auto words = SplitCommandLine(L"p caf\u00e9.hex \u4e2d\u6587.hex \u0100x.hex");
    ASSERT_TRUE(words.has_value());
    ASSERT_EQ(words->size(), 4u);

    EXPECT_TRUE((*words)[1].exact);
    EXPECT_EQ((*words)[1].text, "caf\xe9.hex");
    EXPECT_EQ((*words)[1].native.native(), L"caf\u00e9.hex");

    // No character of the code page stands for these: the word is flagged,
    // and its wide form is kept for the existence test.
    EXPECT_FALSE((*words)[2].exact);
    EXPECT_EQ((*words)[2].text, "??.hex");
    EXPECT_EQ((*words)[2].native.native(), L"\u4e2d\u6587.hex");
    // A best-fit look-alike ('A' for A-macron) would name another file.
    EXPECT_FALSE((*words)[3].exact);
    EXPECT_EQ((*words)[3].text, "?x.hex");
}

}  // namespace
}  // namespace farsend::app

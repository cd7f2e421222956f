// farsend line takes watch's options and its own, and only it takes those.
#include <gtest/gtest.h>

#include "cli/cli_options.h"

namespace farsend::cli {
namespace {

TEST(LineOptions, LineTakesWatchsOptionsAndItsOwn) {
    struct Case {
        std::vector<std::string> words;
        bool accepted;
    };
    const Case cases[] = {
        {{"line", "--all", "f.hex", "--listen", "0.0.0.0:8642", "--token-file", "t"}, true},
        {{"line", "--device", "a", "--device", "b", "--count", "4", "f.hex"}, true},
        {{"line", "--serial", "0x4010:4", "--serial-pool", "board", "f.hex"}, true},
        {{"line", "--serial", "0x4010:4", "f.hex"}, false},
        {{"watch", "--listen", "127.0.0.1:1", "f.hex"}, false},
        {{"program", "--token-file", "t", "f.hex"}, false},
    };
    for (const Case& c : cases) {
        const ParseResult result = ParseArguments(c.words);
        EXPECT_EQ(result.action == ParseAction::Run, c.accepted)
            << testing::PrintToString(c.words) << ": " << result.error;
        if (c.accepted) {
            EXPECT_EQ(result.options.command, Command::Line);
            EXPECT_TRUE(RunsAsWatch(result.options.command));
        }
    }
    const ParseResult wide = ParseArguments({"line", "--listen", "0.0.0.0:9", "--token-file", "t"});
    EXPECT_EQ(wide.options.listen, "0.0.0.0:9");
    EXPECT_EQ(wide.options.tokenFile, "t");
}

}  // namespace
}  // namespace farsend::cli

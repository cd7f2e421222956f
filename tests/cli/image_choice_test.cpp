// The options as the start-up words the window program reads, and the
// checks on a FILE or --dir given.
#include "cli/image_choice.h"

#include <gtest/gtest.h>

#include "firmware/platform_paths.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

std::vector<std::string> Texts(const CliOptions& options) {
    std::vector<std::string> texts;
    for (const app::CommandLineArgument& word : StartUpWords(options)) texts.push_back(word.text);
    return texts;
}

TEST(ImageChoice, OptionsBecomeStartUpWords) {
    const std::string sep(1, firmware::kPathSeparator);
    struct Case {
        CliOptions options;
        std::vector<std::string> words;
    };
    std::vector<Case> cases(5);
    cases[1].options.dir = "fw";
    cases[1].options.variant = firmware::DeviceType::ZigBee;
    cases[1].options.hardwareVersion = firmware::HardwareVersion::V2_0;
    cases[1].options.factory = true;
    cases[1].words = {"fw", "zigbee", "2.0", "factory"};
    cases[2].options.file = "image.hex";
    cases[2].options.variant = firmware::DeviceType::Bluetooth;
    cases[2].words = {"bluetooth", "image.hex"};
    // Paths named like the start-up's keywords stay paths.
    cases[3].options.dir = "1.5";
    cases[3].options.file = "ZigBee";
    cases[3].words = {"." + sep + "1.5", "." + sep + "ZigBee"};
    cases[4].options.dir = "Exit";
    cases[4].words = {"." + sep + "Exit"};
    for (const Case& c : cases) EXPECT_EQ(Texts(c.options), c.words);
}

TEST(ImageChoice, GivenPathsMustExist) {
    farsend::testing::TempDirectory temp;
    const std::string file = temp.Touch("Farsend_15_bt.hex").string();
    CliOptions options;
    EXPECT_EQ(GivenPathProblem(options), std::nullopt);
    options.file = file;
    options.dir = temp.path().string();
    EXPECT_EQ(GivenPathProblem(options), std::nullopt);

    options.dir = file;  // a file where a directory belongs
    EXPECT_NE(GivenPathProblem(options).value_or("").find("no such directory"), std::string::npos);
    options.dir.clear();
    options.file = temp.path().string();  // a directory where a file belongs
    EXPECT_NE(GivenPathProblem(options).value_or("").find("a directory"), std::string::npos);
    options.file = (temp.path() / "none.hex").string();
    EXPECT_NE(GivenPathProblem(options).value_or("").find("no such file"), std::string::npos);
}

}  // namespace
}  // namespace farsend::cli

#include "app/command_line_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/start_up.h"
#include "app/window_texts.h"
#include "firmware/image_names.h"
#include "firmware/platform_paths.h"
#include "support/temp_directory.h"

namespace farsend::app {
namespace {

using farsend::testing::TempDirectory;

constexpr auto kApp = FlashMode::Application;
constexpr auto kFactory = FlashMode::BootloaderAndApplication;

struct Case {
    const char* what;
    std::vector<std::string> words;  // "FILE:name": that file, outside the firmware directory
    FlashMode mode;                  // after the step
    bool warned;
};

// clang-format off
const std::vector<Case> kCases = {
    {"factory word, application image: programmed as an application, with a warning",
     {"factory", "FILE:Farsend_15_bt.hex"}, kApp, true},
    {"bootloader word, application image", {"FILE:Farsend_15_802.hex", "Bootloader"}, kApp, true},
    {"factory image without the word: factory mode, as Browse sets it",
     {"FILE:Farsend_15_bt_f.hex"}, kFactory, false},
    {"factory word, factory image", {"factory", "FILE:Farsend_15_bt_f.hex"}, kFactory, false},
    {"application image, no word", {"FILE:Farsend_15_bt.hex"}, kApp, false},
    // No file named, or one that does not exist: the directory scan chose by mode.
    {"factory word, no file", {"factory"}, kFactory, false},
    {"factory word, missing file", {"factory", "MISSING"}, kFactory, false},
};
// clang-format on

TEST(CommandLineFile, TheFileNamedDecidesTheFlashModeAsBrowseDoes) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        TempDirectory temp;
        const std::filesystem::path dir = temp.MakeDirectory("fw");
        temp.Touch(dir / "Farsend_15_bt.hex");
        temp.Touch(dir / "Farsend_15_bt_f.hex");
        StartUpInputs inputs;
        inputs.workingDirectory =
            ArgumentFromText(*firmware::EightBitPath(temp.MakeDirectory("work")));
        inputs.arguments.emplace();
        inputs.arguments->push_back(ArgumentFromText(*firmware::EightBitPath(dir)));
        std::string named;
        for (const std::string& word : c.words) {
            std::string text = word;
            if (word.rfind("FILE:", 0) == 0) {
                named = *firmware::EightBitPath(temp.Touch("elsewhere/" + word.substr(5)));
                text = named;
            } else if (word == "MISSING") {
                text = *firmware::EightBitPath(temp.path() / "elsewhere" / "Farsend_15_bt.hex");
            }
            inputs.arguments->push_back(ArgumentFromText(text));
        }
        ToolSettings settings;
        ASSERT_TRUE(StartUp(settings, inputs).warnings.empty());
        const std::string chosen = settings.firmwarePath.Get();
        if (!named.empty()) {
            ASSERT_EQ(chosen, named);
        }

        const std::optional<std::string> warning = MatchFlashModeToCommandLineFile(settings);

        EXPECT_EQ(settings.flashMode.load(), c.mode);
        EXPECT_EQ(settings.firmwarePath.Get(), chosen);  // the file itself stays
        EXPECT_EQ(warning.has_value(), c.warned);
        if (warning) {
            EXPECT_THAT(*warning, ::testing::HasSubstr(firmware::GetFileNamePart(named) +
                                                       " is not a factory image"));
        }
        EXPECT_EQ(TitleFor(settings.deviceType, settings.flashMode).title.find(" Factory") !=
                      std::string::npos,
                  c.mode == kFactory);
    }
}

}  // namespace
}  // namespace farsend::app

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/platform_paths.h"
#include "support/temp_directory.h"

namespace farsend::app {
namespace {

using farsend::testing::TempDirectory;

std::vector<CommandLineArgument> Words(const std::vector<std::string>& words) {
    std::vector<CommandLineArgument> arguments;
    for (const std::string& word : words) arguments.push_back(ArgumentFromText(word));
    return arguments;
}

struct KeywordCase {
    std::vector<std::string> words;
    DeviceType deviceType;
    HardwareVersion hardwareVersion;
    FlashMode flashMode;
    bool autoProgram;
    bool exitAfterProgram;
};

constexpr auto kApp = FlashMode::Application;
constexpr auto kFactory = FlashMode::BootloaderAndApplication;

// clang-format off
const std::vector<KeywordCase> kKeywordCases = {
    {{},                                   DeviceType::Any,       HardwareVersion::Any,  kApp,     false, false},
    {{"bluetooth"},                        DeviceType::Bluetooth, HardwareVersion::Any,  kApp,     false, false},
    {{"bluetooth", "zigbee"},              DeviceType::ZigBee,    HardwareVersion::Any,  kApp,     false, false},
    {{"ZigBee", "BLUETOOTH"},              DeviceType::Bluetooth, HardwareVersion::Any,  kApp,     false, false},
    {{"FACTORY"},                          DeviceType::Any,       HardwareVersion::Any,  kFactory, false, false},
    {{"BootLoader"},                       DeviceType::Any,       HardwareVersion::Any,  kFactory, false, false},
    {{"AutoProgram", "eXiT"},              DeviceType::Any,       HardwareVersion::Any,  kApp,     true,  true},
    {{"1.0"},                              DeviceType::Any,       HardwareVersion::V1_0, kApp,     false, false},
    {{"1.5"},                              DeviceType::Any,       HardwareVersion::V1_5, kApp,     false, false},
    {{"1.5", "2.0"},                       DeviceType::Any,       HardwareVersion::V2_0, kApp,     false, false},
    {{"2.0", "1.0"},                       DeviceType::Any,       HardwareVersion::V1_0, kApp,     false, false},
    // Near misses are neither keywords nor existing paths: ignored.
    {{"1.50", "v1.5", "1,5", "factoryx", "blue tooth", "zig", ""},
                                           DeviceType::Any,       HardwareVersion::Any,  kApp,     false, false},
    {{"zigbee", "1.5", "factory", "autoprogram", "exit"},
                                           DeviceType::ZigBee,    HardwareVersion::V1_5, kFactory, true,  true},
};
// clang-format on

class KeywordTests : public ::testing::TestWithParam<KeywordCase> {};

TEST_P(KeywordTests, WordsBecomeSettings) {
    const KeywordCase& c = GetParam();
    ToolSettings settings;
    const CommandLineOutcome outcome = ApplyCommandLine(settings, Words(c.words));
    EXPECT_EQ(settings.deviceType, c.deviceType);
    EXPECT_EQ(settings.hardwareVersion, c.hardwareVersion);
    EXPECT_EQ(settings.flashMode, c.flashMode);
    EXPECT_EQ(settings.autoProgram, c.autoProgram);
    EXPECT_EQ(settings.exitAfterProgram, c.exitAfterProgram);
    EXPECT_TRUE(settings.commandLineFile.Empty());
    EXPECT_TRUE(settings.commandLineDirectory.Empty());
    EXPECT_TRUE(outcome.warnings.empty());
    EXPECT_TRUE(outcome.claimedWords.empty());
}

INSTANTIATE_TEST_SUITE_P(CommandLine, KeywordTests, ::testing::ValuesIn(kKeywordCases));

bool IsSimulatorWord(std::string_view word) {
    return word.rfind("--sim", 0) == 0 || word.rfind("--simulate", 0) == 0;
}

TEST(CommandLineClaims, SimulatorWordsAreHandedOverNotTakenAsPaths) {
    TempDirectory temp;
    // The word names an existing folder, yet it is the claim's, not a path.
    CommandLineArgument simulate;
    simulate.text = "--simulate";
    simulate.native = temp.MakeDirectory("--simulate");
    std::vector<CommandLineArgument> words = Words({"zigbee", "--sim-faults=3"});
    words.insert(words.begin(), simulate);

    ToolSettings settings;
    const CommandLineOutcome outcome =
        ApplyCommandLine(settings, words, [](std::string_view w) { return IsSimulatorWord(w); });
    EXPECT_EQ(outcome.claimedWords, (std::vector<std::string>{"--simulate", "--sim-faults=3"}));
    EXPECT_EQ(settings.deviceType, DeviceType::ZigBee);
    EXPECT_TRUE(settings.commandLineDirectory.Empty());

    // Without a claim the same word is an ordinary path.
    ToolSettings unclaimed;
    ApplyCommandLine(unclaimed, {simulate});
    EXPECT_EQ(unclaimed.commandLineDirectory.Get(), "--simulate");
}

TEST(CommandLineClaims, AClaimMayTakeTheValueAfterItsOption) {
    bool takeNext = false;
    auto claim = [&takeNext](std::string_view word) {
        if (takeNext) {
            takeNext = false;
            return true;
        }
        if (word == "--sim-target") {
            takeNext = true;
            return true;
        }
        return false;
    };
    ToolSettings settings;
    const CommandLineOutcome outcome =
        ApplyCommandLine(settings, Words({"--sim-target", "zigbee", "bluetooth"}), claim);
    EXPECT_EQ(outcome.claimedWords, (std::vector<std::string>{"--sim-target", "zigbee"}));
    EXPECT_EQ(settings.deviceType, DeviceType::Bluetooth);
}

class CommandLinePaths : public ::testing::Test {
protected:
    TempDirectory temp_;
    std::string Path(const char* relative) const {
        return *firmware::EightBitPath(temp_.path() / relative);
    }
};

TEST_F(CommandLinePaths, FilesAndDirectoriesByKindLaterOneWins) {
    temp_.Touch("a/first.hex");
    temp_.Touch("b/second.hex");
    struct Case {
        std::vector<std::string> words;
        std::string file;
        std::string directory;
    };
    const std::vector<Case> cases = {
        {{Path("a/first.hex")}, Path("a/first.hex"), ""},
        {{Path("a/first.hex"), Path("b/second.hex")}, Path("b/second.hex"), ""},
        {{Path("a"), Path("b")}, "", Path("b")},
        {{Path("a"), Path("b/second.hex")}, Path("b/second.hex"), Path("a")},
        // A path that does not exist is ignored and changes nothing.
        {{Path("a/first.hex"), Path("a/missing.hex"), Path("nowhere")}, Path("a/first.hex"), ""},
        // A keyword wins over a path of the same spelling.
        {{"factory"}, "", ""},
    };
    for (const Case& c : cases) {
        ToolSettings settings;
        const CommandLineOutcome outcome = ApplyCommandLine(settings, Words(c.words));
        EXPECT_EQ(settings.commandLineFile.Get(), c.file);
        EXPECT_EQ(settings.commandLineDirectory.Get(), c.directory);
        EXPECT_TRUE(outcome.warnings.empty());
    }
}

TEST_F(CommandLinePaths, AnExistingPathThatLostCharactersIsRefusedWithAMessage) {
    temp_.Touch("a/first.hex");
    CommandLineArgument lossy;
    lossy.native = temp_.path() / "a" / "first.hex";
    lossy.text = "C:\\?\\first.hex";
    lossy.exact = false;

    ToolSettings settings;
    const CommandLineOutcome outcome =
        ApplyCommandLine(settings, {ArgumentFromText(Path("a")), lossy});
    EXPECT_TRUE(settings.commandLineFile.Empty());
    EXPECT_EQ(settings.commandLineDirectory.Get(), Path("a"));
    ASSERT_EQ(outcome.warnings.size(), 1u);
    EXPECT_NE(outcome.warnings[0].find("code page"), std::string::npos);
    EXPECT_NE(outcome.warnings[0].find(lossy.text), std::string::npos);
}

// Windows keeps paths within 259 characters and refuses longer ones instead of
// cutting them; Linux takes them whole.
TEST_F(CommandLinePaths, LongPathsAreRefusedOnlyWhereTheLimitApplies) {
    std::filesystem::path deep = temp_.path();
    while (firmware::EightBitPath(deep)->size() <= 280) deep /= std::string(40, 'p');
    std::filesystem::create_directories(deep);
    ASSERT_TRUE(std::filesystem::is_directory(deep));
    const std::string deepText = *firmware::EightBitPath(deep);

    ToolSettings settings;
    const CommandLineOutcome outcome = ApplyCommandLine(settings, Words({deepText}));
#if defined(_WIN32)
    EXPECT_TRUE(settings.commandLineDirectory.Empty());
    ASSERT_EQ(outcome.warnings.size(), 1u);
    EXPECT_NE(outcome.warnings[0].find("longer than 259 characters"), std::string::npos);
#else
    EXPECT_EQ(settings.commandLineDirectory.Get(), deepText);
    EXPECT_TRUE(outcome.warnings.empty());
#endif
}

}  // namespace
}  // namespace farsend::app

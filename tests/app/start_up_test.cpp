#include "app/start_up.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/window_texts.h"
#include "firmware/platform_paths.h"
#include "support/temp_directory.h"

namespace farsend::app {
namespace {

using farsend::testing::TempDirectory;

struct Flags {
    bool bluetooth, zigbee, v10, v15, v20;
};

struct StartUpCase {
    const char* what;
    std::vector<std::string> files;  // put into the firmware directory
    std::vector<std::string> words;  // "DIR": the firmware directory; "FILE": a file elsewhere
    DeviceType deviceType;
    HardwareVersion hardwareVersion;
    Flags available;
    bool autoSelect;
    std::string chosen;  // name in the firmware directory, "FILE", or "" for none
    std::string title;
};

constexpr auto kBt = DeviceType::Bluetooth;
constexpr auto kZb = DeviceType::ZigBee;
constexpr auto kAny = DeviceType::Any;
constexpr auto kV10 = HardwareVersion::V1_0;
constexpr auto kV15 = HardwareVersion::V1_5;
constexpr auto kV20 = HardwareVersion::V2_0;
constexpr auto kVAny = HardwareVersion::Any;

// clang-format off
const std::vector<StartUpCase> kCases = {
    {"empty directory", {}, {"DIR"},
     kAny, kVAny, {0, 0, 0, 0, 0}, false, "", "Farsend Flasher"},
    {"only ZigBee files", {"Farsend_20_802.hex", "Farsend_10_802_f.hex"}, {"DIR"},
     kZb, kV20, {0, 1, 1, 0, 1}, true, "Farsend_20_802.hex", "Farsend Flasher - ZigBee"},
    {"versions 2.0 and 1.0 only: 2.0", {"Farsend_10_bt.hex", "Farsend_20_bt.hex"}, {"DIR"},
     kBt, kV20, {1, 0, 1, 0, 1}, true, "Farsend_20_bt.hex", "Farsend Flasher - Bluetooth"},
    {"a name without digits is 1.0", {"Farsend_bt.hex"}, {"DIR"},
     kBt, kV10, {1, 0, 1, 0, 0}, true, "Farsend_bt.hex", "Farsend Flasher - Bluetooth"},
    {"Bluetooth and 1.5 are preferred",
     {"Farsend_10_802.hex", "Farsend_20_802.hex", "Farsend_20_bt.hex", "Farsend_15_bt.hex"}, {"DIR"},
     kBt, kV15, {1, 1, 1, 1, 1}, true, "Farsend_15_bt.hex", "Farsend Flasher - Bluetooth"},
    {"1.5 asked for stays though no 1.5 file exists", {"Farsend_20_bt.hex"}, {"DIR", "1.5"},
     kBt, kV15, {1, 0, 0, 0, 1}, true, "", "Farsend Flasher - Bluetooth"},
    {"factory word chooses the factory image", {"Farsend_15_bt.hex", "Farsend_15_bt_f.hex"},
     {"DIR", "Factory"},
     kBt, kV15, {1, 0, 0, 1, 0}, true, "Farsend_15_bt_f.hex", "Farsend Flasher - Bluetooth Factory"},
    {"factory images only, application mode", {"Farsend_15_bt_f.hex"}, {"DIR"},
     kBt, kV15, {1, 0, 0, 1, 0}, true, "", "Farsend Flasher - Bluetooth"},
    {"_intel files count for nothing", {"Farsend_15_bt_intel.hex"}, {"DIR"},
     kAny, kVAny, {0, 0, 0, 0, 0}, false, "", "Farsend Flasher"},
    {"zigbee asked for among both", {"Farsend_15_bt.hex", "Farsend_15_802.hex"}, {"DIR", "zigbee"},
     kZb, kV15, {1, 1, 0, 1, 0}, true, "Farsend_15_802.hex", "Farsend Flasher - ZigBee"},
    {"variant asked for is absent", {"Farsend_15_bt.hex"}, {"DIR", "ZIGBEE"},
     kZb, kV15, {1, 0, 0, 1, 0}, true, "", "Farsend Flasher - ZigBee"},
    {"an existing file makes every flag 1", {}, {"DIR", "FILE"},
     kBt, kV15, {1, 1, 1, 1, 1}, false, "FILE", "Farsend Flasher - Bluetooth"},
    {"an existing file keeps the asked variant and version", {"Farsend_15_bt.hex"},
     {"FILE", "zigbee", "2.0", "DIR", "factory"},
     kZb, kV20, {1, 1, 1, 1, 1}, false, "FILE", "Farsend Flasher - ZigBee Factory"},
    {"a missing path is ignored", {"Farsend_15_bt.hex"}, {"DIR", "DIR/missing.hex"},
     kBt, kV15, {1, 0, 0, 1, 0}, true, "Farsend_15_bt.hex", "Farsend Flasher - Bluetooth"},
};
// clang-format on

class StartUpTests : public ::testing::TestWithParam<StartUpCase> {};

TEST_P(StartUpTests, SettingsAfterStartUp) {
    const StartUpCase& c = GetParam();
    TempDirectory temp;
    const std::filesystem::path dirPath = temp.MakeDirectory("fw");
    for (const std::string& name : c.files) temp.Touch(dirPath / name);
    const std::string dir = *firmware::EightBitPath(dirPath);
    const std::string file = *firmware::EightBitPath(temp.Touch("elsewhere/image.bin"));

    StartUpInputs inputs;
    inputs.workingDirectory = ArgumentFromText(*firmware::EightBitPath(temp.MakeDirectory("work")));
    inputs.arguments.emplace();
    for (const std::string& word : c.words) {
        std::string text = word;
        if (text.rfind("DIR", 0) == 0) text = dir + text.substr(3);
        if (text == "FILE") text = file;
        inputs.arguments->push_back(ArgumentFromText(text));
    }

    ToolSettings settings;
    const StartUpReport report = StartUp(settings, inputs);

    SCOPED_TRACE(c.what);
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_EQ(settings.firmwareDirectory.Get(), dir);
    EXPECT_EQ(settings.deviceType, c.deviceType);
    EXPECT_EQ(settings.hardwareVersion, c.hardwareVersion);
    EXPECT_EQ(settings.bluetoothAvailable, c.available.bluetooth);
    EXPECT_EQ(settings.zigbeeAvailable, c.available.zigbee);
    EXPECT_EQ(settings.version10Available, c.available.v10);
    EXPECT_EQ(settings.version15Available, c.available.v15);
    EXPECT_EQ(settings.version20Available, c.available.v20);
    EXPECT_EQ(settings.autoSelect, c.autoSelect);
    const std::string expectedPath =
        c.chosen.empty() ? "" : (c.chosen == "FILE" ? file : firmware::JoinPath(dir, c.chosen));
    EXPECT_EQ(settings.firmwarePath.Get(), expectedPath);
    EXPECT_EQ(TitleFor(settings.deviceType, settings.flashMode).title, c.title);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, StartUpTests, ::testing::ValuesIn(kCases));

class StartUpDirectories : public ::testing::Test {
protected:
    TempDirectory temp_;
    std::string work_ = *firmware::EightBitPath(temp_.MakeDirectory("work"));
#if defined(_WIN32)
    std::string parent_ = work_ + "\\..";
#else
    std::string parent_ = work_ + "/..";
#endif

    void SetUp() override { temp_.Touch("Farsend_15_bt.hex"); }

    StartUpInputs Inputs(std::vector<std::string> words) const {
        StartUpInputs inputs;
        inputs.workingDirectory = ArgumentFromText(work_);
        inputs.arguments.emplace();
        for (std::string& word : words) inputs.arguments->push_back(ArgumentFromText(word));
        return inputs;
    }
};

TEST_F(StartUpDirectories, DefaultIsTheWorkingDirectorysParentUnnormalised) {
    ToolSettings settings;
    const StartUpReport report = StartUp(settings, Inputs({}));
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_EQ(settings.workingDirectory.Get(), work_);
    EXPECT_EQ(settings.firmwareDirectory.Get(), parent_);
    EXPECT_EQ(settings.firmwarePath.Get(), firmware::JoinPath(parent_, "Farsend_15_bt.hex"));
}

TEST_F(StartUpDirectories, AFailedSplitterMeansNoArguments) {
    ToolSettings settings;
    StartUpInputs inputs = Inputs({});
    inputs.arguments.reset();
    StartUp(settings, inputs);
    EXPECT_EQ(settings.firmwareDirectory.Get(), parent_);
    EXPECT_EQ(settings.deviceType, DeviceType::Bluetooth);
}

TEST_F(StartUpDirectories, StartUpResetsSwitchesAndRunTimeState) {
    ToolSettings settings;
    settings.autoProgram = true;
    settings.validateDevice = false;
    settings.flashMode = FlashMode::BootloaderAndApplication;
    settings.connectionState = ConnectionState::Connected;
    settings.programRequest = ProgramRequest::Requested;
    settings.comPort = 3;
    settings.serialSpeed = 9600;
    StartUp(settings, Inputs({}));
    EXPECT_FALSE(settings.autoProgram);
    EXPECT_TRUE(settings.validateDevice);
    EXPECT_EQ(settings.flashMode, FlashMode::Application);
    EXPECT_EQ(settings.connectionState, ConnectionState::NeverConnected);
    EXPECT_EQ(settings.programRequest, ProgramRequest::None);
    EXPECT_EQ(settings.comPort, 1);
    EXPECT_EQ(settings.serialSpeed, 115200);
}

TEST_F(StartUpDirectories, UnreadableWorkingDirectorySearchesNothingAndSaysSo) {
    ToolSettings settings;
    StartUpInputs inputs = Inputs({});
    inputs.workingDirectory.reset();
    const StartUpReport report = StartUp(settings, inputs);
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_TRUE(settings.firmwareDirectory.Empty());
    EXPECT_TRUE(settings.firmwarePath.Empty());
    EXPECT_FALSE(settings.autoSelect);

    // A directory on the command line needs no working directory.
    ToolSettings named;
    inputs.arguments->push_back(ArgumentFromText(*firmware::EightBitPath(temp_.path())));
    EXPECT_TRUE(StartUp(named, inputs).warnings.empty());
    EXPECT_FALSE(named.firmwarePath.Empty());
}

TEST_F(StartUpDirectories, WorkingDirectoryWithLostCharactersIsNotUsed) {
    ToolSettings settings;
    StartUpInputs inputs = Inputs({});
    inputs.workingDirectory->exact = false;
    const StartUpReport report = StartUp(settings, inputs);
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_NE(report.warnings[0].find("code page"), std::string::npos);
    EXPECT_TRUE(settings.firmwareDirectory.Empty());
    EXPECT_TRUE(settings.workingDirectory.Empty());
}

TEST_F(StartUpDirectories, LongWorkingDirectoryIsRefusedOnlyWhereTheLimitApplies) {
    // The parent need not exist for the directory name to be formed.
    std::string longDirectory = work_;
    while (longDirectory.size() < 258) longDirectory = firmware::JoinPath(longDirectory, "w");
    ToolSettings settings;
    StartUpInputs inputs = Inputs({});
    inputs.workingDirectory = ArgumentFromText(longDirectory);
    const StartUpReport report = StartUp(settings, inputs);
#if defined(_WIN32)
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_NE(report.warnings[0].find("longer than 259 characters"), std::string::npos);
    EXPECT_TRUE(settings.firmwareDirectory.Empty());
#else
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_EQ(settings.firmwareDirectory.Get(), longDirectory + "/..");
#endif
}

TEST_F(StartUpDirectories, ClaimedWordsAreReportedInOrder) {
    ToolSettings settings;
    const StartUpReport report =
        StartUp(settings, Inputs({"--simulate", "zigbee", "--sim-seed=4"}),
                [](std::string_view word) { return word.rfind("--sim", 0) == 0; });
    EXPECT_EQ(report.claimedWords, (std::vector<std::string>{"--simulate", "--sim-seed=4"}));
    EXPECT_EQ(settings.deviceType, DeviceType::ZigBee);
}

}  // namespace
}  // namespace farsend::app

#include "app/programming_setup.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/recording_view.h"
#include "app/window_texts.h"
#include "firmware/platform_paths.h"
#include "support/temp_directory.h"

namespace farsend::app {
namespace {

using farsend::testing::TempDirectory;

constexpr auto kBt = DeviceType::Bluetooth;
constexpr auto kZb = DeviceType::ZigBee;
constexpr auto kAny = DeviceType::Any;
constexpr auto kV10 = HardwareVersion::V1_0;
constexpr auto kV15 = HardwareVersion::V1_5;
constexpr auto kV20 = HardwareVersion::V2_0;
constexpr auto kVAny = HardwareVersion::Any;
constexpr auto kApp = FlashMode::Application;
constexpr auto kFactory = FlashMode::BootloaderAndApplication;

// Every file is put into the firmware directory; the availability flags are
// those a start-up scan of it would set.
const std::vector<std::string> kAllFiles = {
    "Farsend_15_bt.hex",  "Farsend_15_bt_f.hex", "Farsend_20_bt.hex",
    "Farsend_15_802.hex", "Farsend_10_802.hex",
};

struct Applied {
    DeviceType deviceType;
    HardwareVersion hardwareVersion;
    FlashMode flashMode;
    bool autoSelect;
    const char* path;  // a name in the firmware directory, or ""
};

struct SetupCase {
    const char* what;
    Applied before;
    // Steps: "app", "boot", "type=N", "version=N" (list positions), "auto",
    // "validate", "browse=NAME" (a file the Open dialog returns).
    std::vector<std::string> steps;
    const char* shownName;  // control 822 after the steps
    bool ok;                // OK pressed (else Cancel)
    Applied after;
    const char* title;  // after OK; "" when the title must not be refreshed
};

// clang-format off
const std::vector<SetupCase> kCases = {
    {"OK at once: nothing changes, the file is chosen again",
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, {}, "Farsend_15_bt.hex", true,
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, "Farsend Flasher - Bluetooth"},
    {"variant switched to ZigBee: shown at once, applied by OK",
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, {"type=0"}, "Farsend_15_802.hex", true,
     {kZb, kV15, kApp, true, "Farsend_15_802.hex"}, "Farsend Flasher - ZigBee"},
    {"version switched, then cancelled: nothing applied",
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, {"version=2"}, "Farsend_20_bt.hex", false,
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, ""},
    {"factory chosen: factory image found and applied with the mode",
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, {"boot"}, "Farsend_15_bt_f.hex", true,
     {kBt, kV15, kFactory, true, "Farsend_15_bt_f.hex"}, "Farsend Flasher - Bluetooth Factory"},
    {"factory chosen with no factory image of that variant: empty",
     {kZb, kV15, kApp, true, "Farsend_15_802.hex"}, {"boot"}, "", true,
     {kZb, kV15, kFactory, true, ""}, "Farsend Flasher - ZigBee Factory"},
    {"back from factory to application",
     {kBt, kV15, kFactory, true, "Farsend_15_bt_f.hex"}, {"app"}, "Farsend_15_bt.hex", true,
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, "Farsend Flasher - Bluetooth"},
    {"auto-select off: Any and Any, the last file kept",
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, {"type=0", "auto"}, "Farsend_15_802.hex", true,
     {kAny, kVAny, kApp, false, "Farsend_15_802.hex"}, "Farsend Flasher"},
    {"auto-select on from Any: the start-up preference",
     {kAny, kVAny, kApp, false, "Farsend_10_802.hex"}, {"auto"}, "Farsend_15_bt.hex", true,
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, "Farsend Flasher - Bluetooth"},
    {"auto-select on keeps a variant already chosen",
     {kZb, kVAny, kApp, false, ""}, {"auto"}, "Farsend_15_802.hex", true,
     {kZb, kV15, kApp, true, "Farsend_15_802.hex"}, "Farsend Flasher - ZigBee"},
    {"list choices while auto-select is off are kept for later",
     {kAny, kVAny, kApp, false, "Farsend_20_bt.hex"}, {"type=0", "version=0"}, "Farsend_20_bt.hex",
     true, {kZb, kV10, kApp, false, "Farsend_20_bt.hex"}, "Farsend Flasher - ZigBee"},
    {"browse to a factory file: its box checked, mode and file applied by OK",
     {kAny, kVAny, kApp, false, "Farsend_15_bt.hex"}, {"browse=Farsend_15_bt_f.hex"},
     "Farsend_15_bt_f.hex", true,
     {kAny, kVAny, kFactory, false, "Farsend_15_bt_f.hex"}, "Farsend Flasher Factory"},
    {"browse to a factory file, then Cancel: the mode stays with the file",
     {kAny, kVAny, kApp, false, "Farsend_15_bt.hex"}, {"browse=Farsend_15_bt_f.hex"},
     "Farsend_15_bt_f.hex", false,
     {kAny, kVAny, kApp, false, "Farsend_15_bt.hex"}, ""},
    {"browse to an application file from factory mode",
     {kAny, kVAny, kFactory, false, "Farsend_15_bt_f.hex"}, {"browse=Farsend_20_bt.hex"},
     "Farsend_20_bt.hex", true,
     {kAny, kVAny, kApp, false, "Farsend_20_bt.hex"}, "Farsend Flasher"},
    {"a position outside a list changes nothing",
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, {"type=7", "version=-1"}, "Farsend_15_bt.hex",
     true, {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, "Farsend Flasher - Bluetooth"},
    {"validation toggled twice is unchanged; off and on again reselects",
     {kBt, kV20, kApp, true, "Farsend_20_bt.hex"}, {"validate", "validate", "auto", "auto"},
     "Farsend_15_bt.hex", true,
     {kBt, kV15, kApp, true, "Farsend_15_bt.hex"}, "Farsend Flasher - Bluetooth"},
};
// clang-format on

class ProgrammingSetupTests : public ::testing::TestWithParam<SetupCase> {
protected:
    void SetUp() override {
        for (const std::string& name : kAllFiles) temp_.Touch(name);
        dir_ = *firmware::EightBitPath(temp_.path());
        settings_.firmwareDirectory.Set(dir_);
        settings_.bluetoothAvailable = true;
        settings_.zigbeeAvailable = true;
        settings_.version10Available = true;
        settings_.version15Available = true;
        settings_.version20Available = true;
        settings_.view = &view_;
    }
    void TearDown() override { settings_.view = nullptr; }

    std::string PathOf(const std::string& name) const {
        return name.empty() ? "" : firmware::JoinPath(dir_, name);
    }

    TempDirectory temp_;
    std::string dir_;
    ToolSettings settings_;
    RecordingView view_;
};

int NumberAfter(const std::string& step) {
    return std::stoi(step.substr(step.find('=') + 1));
}

TEST_P(ProgrammingSetupTests, StepsThenOkOrCancel) {
    const SetupCase& c = GetParam();
    SCOPED_TRACE(c.what);
    settings_.deviceType = c.before.deviceType;
    settings_.hardwareVersion = c.before.hardwareVersion;
    settings_.flashMode = c.before.flashMode;
    settings_.autoSelect = c.before.autoSelect;
    settings_.firmwarePath.Set(PathOf(c.before.path));

    ProgrammingSetup setup(settings_);
    for (const std::string& step : c.steps) {
        if (step == "app")
            setup.ChooseApplication();
        else if (step == "boot")
            setup.ChooseBootloaderAndApplication();
        else if (step.rfind("type=", 0) == 0)
            setup.ChooseDeviceTypeEntry(NumberAfter(step));
        else if (step.rfind("version=", 0) == 0)
            setup.ChooseHardwareVersionEntry(NumberAfter(step));
        else if (step == "auto")
            setup.ToggleAutoSelect();
        else if (step == "validate")
            setup.ToggleValidate();
        else if (step.rfind("browse=", 0) == 0)
            setup.BrowseChosen(PathOf(step.substr(7)));
        else
            FAIL() << "unknown step " << step;
    }
    EXPECT_EQ(setup.ShownFileName(), std::string(c.shownName));
    EXPECT_NE(setup.ApplicationChecked(), setup.BootloaderChecked());
    if (c.ok) setup.Apply();

    EXPECT_EQ(settings_.deviceType, c.after.deviceType);
    EXPECT_EQ(settings_.hardwareVersion, c.after.hardwareVersion);
    EXPECT_EQ(settings_.flashMode, c.after.flashMode);
    EXPECT_EQ(settings_.autoSelect, c.after.autoSelect);
    EXPECT_TRUE(settings_.validateDevice);
    EXPECT_EQ(settings_.firmwarePath.Get(), PathOf(c.after.path));

    std::vector<std::string> expectedCalls;
    if (c.ok) {
        expectedCalls.push_back("status1:" + std::string(c.after.path));
        const TitleAndColour look = TitleFor(c.after.deviceType, c.after.flashMode);
        ASSERT_EQ(look.title, std::string(c.title));
        std::ostringstream title;
        title << "title:" << look.title << "|" << int{look.colour.red} << ","
              << int{look.colour.green} << "," << int{look.colour.blue};
        expectedCalls.push_back(title.str());
    }
    EXPECT_EQ(view_.Calls(), expectedCalls);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ProgrammingSetupTests, ::testing::ValuesIn(kCases));

// What the controls show on opening, after the availability flags and
// auto-select.
struct OpeningCase {
    const char* what;
    bool bluetooth, zigbee, v10, v15, v20;
    bool autoSelect;
    DeviceType deviceType;
    HardwareVersion hardwareVersion;
    std::vector<DeviceType> typeEntries;
    std::vector<HardwareVersion> versionEntries;
    int typeSelection;  // -1: none
    int versionSelection;
};

// clang-format off
const std::vector<OpeningCase> kOpenings = {
    {"all found, ZigBee listed first", 1, 1, 1, 1, 1, true, kBt, kV20,
     {kZb, kBt}, {kV10, kV15, kV20}, 1, 2},
    {"auto-select off: nothing selected", 1, 1, 1, 1, 1, false, kBt, kV20,
     {kZb, kBt}, {kV10, kV15, kV20}, -1, -1},
    {"a variant that is not listed", 1, 0, 0, 1, 0, true, kZb, kV15,
     {kBt}, {kV15}, -1, 0},
    {"Any selects nothing", 0, 1, 1, 0, 1, true, kAny, kVAny,
     {kZb}, {kV10, kV20}, -1, -1},
    {"nothing found: empty lists", 0, 0, 0, 0, 0, true, kAny, kVAny, {}, {}, -1, -1},
};
// clang-format on

class ProgrammingSetupOpening : public ::testing::TestWithParam<OpeningCase> {};

TEST_P(ProgrammingSetupOpening, ListsAndSelections) {
    const OpeningCase& c = GetParam();
    SCOPED_TRACE(c.what);
    ToolSettings settings;
    settings.bluetoothAvailable = c.bluetooth;
    settings.zigbeeAvailable = c.zigbee;
    settings.version10Available = c.v10;
    settings.version15Available = c.v15;
    settings.version20Available = c.v20;
    settings.autoSelect = c.autoSelect;
    settings.deviceType = c.deviceType;
    settings.hardwareVersion = c.hardwareVersion;

    const ProgrammingSetup setup(settings);
    EXPECT_EQ(setup.DeviceTypeEntries(), c.typeEntries);
    EXPECT_EQ(setup.HardwareVersionEntries(), c.versionEntries);
    EXPECT_EQ(setup.DeviceTypeSelection().value_or(-1), c.typeSelection);
    EXPECT_EQ(setup.HardwareVersionSelection().value_or(-1), c.versionSelection);
    EXPECT_EQ(setup.ListsEnabled(), c.autoSelect);
    EXPECT_EQ(setup.FileChoiceEnabled(), !c.autoSelect);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ProgrammingSetupOpening, ::testing::ValuesIn(kOpenings));

TEST(ProgrammingSetupCommandLineFile, AutoSelectOnScansTheDirectoryEvenAfterCancel) {
    TempDirectory temp;
    temp.Touch("Farsend_15_bt.hex");
    const std::string named = *firmware::EightBitPath(temp.Touch("elsewhere/mine.hex"));
    ToolSettings settings;
    settings.firmwareDirectory.Set(*firmware::EightBitPath(temp.path()));
    settings.commandLineFile.Set(named);
    settings.firmwarePath.Set(named);
    settings.bluetoothAvailable = true;
    settings.version15Available = true;

    {
        ProgrammingSetup setup(settings);
        setup.ToggleAutoSelect();
        EXPECT_EQ(setup.ShownFileName(), "Farsend_15_bt.hex");
    }  // cancelled
    EXPECT_EQ(settings.commandLineFile.Get(), "");
    EXPECT_EQ(settings.firmwarePath.Get(), named);
    EXPECT_FALSE(settings.autoSelect);
}

TEST(ProgrammingSetupBrowse, StartsFromTheAppliedFileAndACancelKeepsThePendingChoice) {
    ToolSettings settings;
    settings.firmwarePath.Set("C:\\fw\\Farsend_15_bt.hex");
    ProgrammingSetup setup(settings);
    setup.BrowseChosen("C:\\fw\\Farsend_20_bt.hex");
    // The Open dialog is offered the applied file, not the pending one.
    EXPECT_EQ(setup.BrowseStartPath(), "C:\\fw\\Farsend_15_bt.hex");
    // A cancelled Open dialog calls nothing: the pending choice and the name
    // shown stay in step.
    EXPECT_EQ(setup.PendingPath(), "C:\\fw\\Farsend_20_bt.hex");
    EXPECT_EQ(setup.ShownFileName(), "Farsend_20_bt.hex");
}

}  // namespace
}  // namespace farsend::app

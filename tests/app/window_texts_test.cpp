#include "app/window_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_view.h"

namespace farsend::app {
namespace {

using Calls = std::vector<std::string>;

struct TitleCase {
    DeviceType deviceType;
    FlashMode flashMode;
    std::string title;
    uint32_t colorRef;
};

class TitleTests : public ::testing::TestWithParam<TitleCase> {};

TEST_P(TitleTests, TitleAndColourFollowVariantAndMode) {
    const TitleCase& c = GetParam();
    ToolSettings settings;
    RecordingView view;
    settings.deviceType = c.deviceType;
    settings.flashMode = c.flashMode;
    settings.view = &view;

    RefreshTitle(settings);

    const TitleAndColour look = TitleFor(c.deviceType, c.flashMode);
    EXPECT_EQ(look.title, c.title);
    EXPECT_EQ(look.colour.ColorRef(), c.colorRef);
    EXPECT_LT(look.title.size(), 64u);
    ASSERT_EQ(view.Calls().size(), 1u);
    EXPECT_EQ(view.Calls()[0].rfind("title:" + c.title + "|", 0), 0u) << view.Calls()[0];
}

INSTANTIATE_TEST_SUITE_P(
    Looks, TitleTests,
    ::testing::ValuesIn(std::vector<TitleCase>{
        {DeviceType::Bluetooth, FlashMode::Application, "Farsend Flasher - Bluetooth", 0x00AE8A00},
        {DeviceType::ZigBee, FlashMode::Application, "Farsend Flasher - ZigBee", 0x0063AB80},
        {DeviceType::Any, FlashMode::Application, "Farsend Flasher", 0x00808080},
        {static_cast<DeviceType>(3), FlashMode::Application, "Farsend Flasher", 0x00808080},
        {DeviceType::Bluetooth, FlashMode::BootloaderAndApplication,
         "Farsend Flasher - Bluetooth Factory", 0x00AE8A00},
        {DeviceType::ZigBee, FlashMode::BootloaderAndApplication,
         "Farsend Flasher - ZigBee Factory", 0x0063AB80},
        {DeviceType::Any, FlashMode::BootloaderAndApplication, "Farsend Flasher Factory",
         0x00808080},
    }));

TEST(StatusTexts, ConnectionTextForEveryState) {
    const std::pair<ConnectionState, std::string> cases[] = {
        {ConnectionState::NeverConnected, "status0:NOT CONNECTED"},
        {ConnectionState::Disconnected, "status0:NOT CONNECTED"},
        {ConnectionState::Connected, "status0:CONNECTED"},
    };
    for (const auto& [state, expected] : cases) {
        ToolSettings settings;
        RecordingView view;
        settings.view = &view;
        settings.connectionState = state;
        RefreshConnectionText(settings);
        EXPECT_EQ(view.Calls(), Calls{expected});
    }
}

TEST(StatusTexts, FileNameShowsOnlyTheNamePart) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "status1:"},
        {"C:\\fw\\..\\Farsend_15_bt.hex", "status1:Farsend_15_bt.hex"},
        {"/opt/fw/../Farsend_20_802_f.hex", "status1:Farsend_20_802_f.hex"},
        {"firmware.v2.hex", "status1:firmware.v2.hex"},
    };
    for (const auto& [path, expected] : cases) {
        ToolSettings settings;
        RecordingView view;
        settings.view = &view;
        settings.firmwarePath.Set(path);
        RefreshFileName(settings);
        EXPECT_EQ(view.Calls(), Calls{expected}) << path;
    }
}

TEST(Switches, AutoProgramMovesTheCheckMarkOnceTheWindowExists) {
    ToolSettings settings;
    SetAutoProgram(settings, true);  // no window yet: only the flag
    EXPECT_TRUE(settings.autoProgram);

    RecordingView view;
    settings.view = &view;
    SetAutoProgram(settings, false);
    EXPECT_FALSE(settings.autoProgram);
    SetAutoProgram(settings, true);
    EXPECT_TRUE(settings.autoProgram);
    EXPECT_EQ(view.Calls(), (Calls{"check:off", "check:on"}));
}

}  // namespace
}  // namespace farsend::app

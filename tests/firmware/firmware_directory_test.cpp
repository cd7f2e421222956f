// Selection against real directories: the listing, its letter-case rule and
// the command-line file short-cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "firmware/firmware_selection.h"
#include "firmware/platform_paths.h"
#include "support/temp_directory.h"

namespace farsend::firmware {
namespace {

using farsend::testing::TempDirectory;

std::string EightBit(const std::filesystem::path& path) {
    const std::optional<std::string> text = EightBitPath(path);
    EXPECT_TRUE(text.has_value());
    return text.value_or("");
}

class FirmwareDirectory : public ::testing::Test {
protected:
    TempDirectory temp_;
    std::string dir_ = EightBit(temp_.path());

    std::optional<std::string> Select(DeviceType type, HardwareVersion version, bool factory,
                                      const std::string& commandLineFile = "") {
        return SelectFirmwareFile({dir_, commandLineFile}, {type, version, factory});
    }
};

TEST_F(FirmwareDirectory, ListingMatchesThePatternInAnyLetterCase) {
    temp_.Touch("FARSEND_15_BT.HEX");
    temp_.Touch("farsend_20_802.hex");
    temp_.Touch("FarSend_10_bt_f.Hex");
    temp_.Touch("Other_15_bt.hex");
    temp_.Touch("Farsend_15_bt.hex.bak");
    temp_.Touch("sub/Farsend_15_bt.hex");

    auto names = ListFirmwareDirectory(dir_);
    ASSERT_TRUE(names.has_value());
    std::sort(names->begin(), names->end());
    EXPECT_EQ(*names, (std::vector<std::string>{"FARSEND_15_BT.HEX", "FarSend_10_bt_f.Hex",
                                                "farsend_20_802.hex"}));

    EXPECT_EQ(Select(DeviceType::Bluetooth, HardwareVersion::V1_5, false),
              JoinPath(dir_, "FARSEND_15_BT.HEX"));
    EXPECT_EQ(Select(DeviceType::ZigBee, HardwareVersion::Any, false),
              JoinPath(dir_, "farsend_20_802.hex"));
    EXPECT_EQ(Select(DeviceType::Any, HardwareVersion::V1_0, true),
              JoinPath(dir_, "FarSend_10_bt_f.Hex"));
    EXPECT_EQ(Select(DeviceType::ZigBee, HardwareVersion::V1_5, false), std::nullopt);
}

TEST_F(FirmwareDirectory, AFolderNamedLikeFirmwareIsNotChosen) {
    temp_.MakeDirectory("Farsend_15_bt.hex");
    temp_.Touch("Farsend_15_bt_release.hex");
    EXPECT_EQ(Select(DeviceType::Bluetooth, HardwareVersion::V1_5, false),
              JoinPath(dir_, "Farsend_15_bt_release.hex"));
}

TEST_F(FirmwareDirectory, MissingOrUnnamedDirectoryGivesNothing) {
    EXPECT_EQ(ListFirmwareDirectory(JoinPath(dir_, "missing")), std::nullopt);
    EXPECT_EQ(ListFirmwareDirectory(""), std::nullopt);
    EXPECT_EQ(SelectFirmwareFile({JoinPath(dir_, "missing"), ""}, {}), std::nullopt);
    EXPECT_EQ(SelectFirmwareFile({"", ""}, {}), std::nullopt);
}

TEST_F(FirmwareDirectory, AnEmptyDirectoryGivesNothing) {
    const auto names = ListFirmwareDirectory(dir_);
    ASSERT_TRUE(names.has_value());
    EXPECT_TRUE(names->empty());
    EXPECT_EQ(Select(DeviceType::Any, HardwareVersion::Any, false), std::nullopt);
}

TEST_F(FirmwareDirectory, AnExistingCommandLineFileWinsWhateverItsName) {
    temp_.Touch("Farsend_15_bt.hex");
    temp_.Touch("Farsend_15_bt_f.hex");
    const std::string file = EightBit(temp_.Touch("elsewhere/Farsend_20_802_intel.hex"));
    const SelectionRequest requests[] = {
        {DeviceType::Bluetooth, HardwareVersion::V1_5, false},
        {DeviceType::Bluetooth, HardwareVersion::V1_5, true},
        {DeviceType::ZigBee, HardwareVersion::V1_0, false},
        {static_cast<DeviceType>(9), static_cast<HardwareVersion>(9), true},
    };
    for (const SelectionRequest& request : requests) {
        EXPECT_EQ(SelectFirmwareFile({dir_, file}, request), file);
    }
    const std::string plain = EightBit(temp_.Touch("elsewhere/firmware.bin"));
    EXPECT_EQ(Select(DeviceType::ZigBee, HardwareVersion::V2_0, true, plain), plain);
}

TEST_F(FirmwareDirectory, AVanishedOrNonFileCommandLinePathFallsBackToTheDirectory) {
    temp_.Touch("Farsend_15_bt.hex");
    const std::string expected = JoinPath(dir_, "Farsend_15_bt.hex");

    const std::filesystem::path gone = temp_.Touch("elsewhere/Farsend_20_802.hex");
    const std::string goneText = EightBit(gone);
    std::filesystem::remove(gone);
    EXPECT_EQ(Select(DeviceType::Bluetooth, HardwareVersion::V1_5, false, goneText), expected);

    const std::string folder = EightBit(temp_.MakeDirectory("Farsend_20_802_dir.hex"));
    EXPECT_EQ(Select(DeviceType::Bluetooth, HardwareVersion::V1_5, false, folder), expected);
}

// Windows keeps 8-bit paths within 259 characters; Linux has no such limit.
TEST_F(FirmwareDirectory, LongDirectoryIsRefusedOnlyWhereTheLimitApplies) {
    std::filesystem::path deep = temp_.path();
    const std::string segment(50, 'd');
    while (EightBit(deep).size() + 1 + 17 <= 300) deep /= segment;
    std::filesystem::create_directories(deep);
    std::ofstream(deep / "Farsend_15_bt.hex") << "00004000 01\n";
    ASSERT_TRUE(std::filesystem::is_regular_file(deep / "Farsend_15_bt.hex"));

    const std::string deepText = EightBit(deep);
    const auto chosen =
        SelectFirmwareFile({deepText, ""}, {DeviceType::Bluetooth, HardwareVersion::V1_5, false});
#if defined(_WIN32)
    EXPECT_EQ(chosen, std::nullopt);
#else
    EXPECT_EQ(chosen, JoinPath(deepText, "Farsend_15_bt.hex"));
#endif
}

}  // namespace
}  // namespace farsend::firmware

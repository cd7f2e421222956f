// Windows: names the ANSI code page cannot hold could not be opened through
// the 8-bit path that selection hands on, so the listing passes them over.
#include <gtest/gtest.h>

#include <fstream>

#include "firmware/firmware_selection.h"
#include "firmware/platform_paths.h"
#include "support/temp_directory.h"

namespace farsend::firmware {
namespace {

TEST(WindowsListing, NamesOutsideTheCodePageAreNotChosen) {
    farsend::testing::TempDirectory temp;
    const std::filesystem::path odd = temp.path() / L"Farsend_15_bt_\u4e2d.hex";
    std::ofstream(odd) << "00004000 01\n";
    ASSERT_TRUE(std::filesystem::is_regular_file(odd));
    temp.Touch("Farsend_15_bt_long.hex");

    const std::string dir = *EightBitPath(temp.path());
    const auto names = ListFirmwareDirectory(dir);
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(*names, std::vector<std::string>{"Farsend_15_bt_long.hex"});
    // The shorter, unreadable name would otherwise win.
    EXPECT_EQ(SelectFirmwareFile({dir, ""}, {DeviceType::Bluetooth, HardwareVersion::V1_5, false}),
              JoinPath(dir, "Farsend_15_bt_long.hex"));
}

TEST(WindowsListing, EightBitPathsRoundTripThroughTheNativeForm) {
    const std::string paths[] = {"C:\\fw\\Farsend_15_bt.hex", "", "a b\\c"};
    for (const std::string& path : paths) {
        const std::optional<std::string> back = EightBitPath(NativePath(path));
        ASSERT_TRUE(back.has_value()) << path;
        EXPECT_EQ(*back, path);
    }
}

}  // namespace
}  // namespace farsend::firmware

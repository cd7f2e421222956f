#include "firmware/firmware_selection.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "firmware/platform_paths.h"

namespace farsend::firmware {
namespace {

constexpr auto kBt = DeviceType::Bluetooth;
constexpr auto kZb = DeviceType::ZigBee;
constexpr auto kAnyType = DeviceType::Any;
constexpr auto kAnyVersion = HardwareVersion::Any;
constexpr auto k10 = HardwareVersion::V1_0;
constexpr auto k15 = HardwareVersion::V1_5;
constexpr auto k20 = HardwareVersion::V2_0;

struct ListingCase {
    const char* what;
    std::vector<std::string> listing;  // in the order the system lists them
    SelectionRequest request;
    std::optional<std::string> chosen;  // entry name, or nothing
};

// clang-format off
const std::vector<ListingCase> kListingCases = {
    {"shorter path wins though listed last",
     {"Farsend_15_bt_b.hex", "Farsend_15_bt.hex"}, {kBt, k15, false}, "Farsend_15_bt.hex"},
    {"shorter path wins when listed first",
     {"Farsend_15_bt.hex", "Farsend_15_bt_b.hex"}, {kBt, k15, false}, "Farsend_15_bt.hex"},
    {"first listed among equally long",
     {"Farsend_15_bt_b.hex", "Farsend_15_bt_a.hex"}, {kBt, k15, false}, "Farsend_15_bt_b.hex"},
    {"first listed among equally long, other order",
     {"Farsend_15_bt_a.hex", "Farsend_15_bt_b.hex"}, {kBt, k15, false}, "Farsend_15_bt_a.hex"},
    {"application request never takes a factory image",
     {"Farsend_15_bt_f.hex"}, {kBt, k15, false}, std::nullopt},
    {"factory request never takes an application image",
     {"Farsend_15_bt.hex"}, {kBt, k15, true}, std::nullopt},
    {"factory request takes the factory image among both",
     {"Farsend_15_bt.hex", "Farsend_15_bt_f.hex"}, {kBt, k15, true}, "Farsend_15_bt_f.hex"},
    {"factory marker in the middle",
     {"Farsend_20+802_f_b.hex"}, {kZb, k20, true}, "Farsend_20+802_f_b.hex"},
    {"_intel never, even for Any",
     {"Farsend_15_bt_intel.hex"}, {kAnyType, kAnyVersion, false}, std::nullopt},
    {"_intel never, the plain one is taken though longer",
     {"Farsend_15_bt_intel.hex", "Farsend_15_bt_release.hex"}, {kBt, k15, false},
     "Farsend_15_bt_release.hex"},
    {"Any variant takes a name without marker",
     {"Farsend_15.hex"}, {kAnyType, k15, false}, "Farsend_15.hex"},
    {"Bluetooth needs its marker",
     {"Farsend_15.hex"}, {kBt, k15, false}, std::nullopt},
    {"ZigBee among mixed variants",
     {"Farsend_15_bt.hex", "Farsend_15_802.hex", "Farsend_20_802.hex"}, {kZb, k15, false},
     "Farsend_15_802.hex"},
    {"both markers serve Bluetooth", {"Farsend_15_bt+802.hex"}, {kBt, k15, false},
     "Farsend_15_bt+802.hex"},
    {"both markers serve ZigBee", {"Farsend_15_bt+802.hex"}, {kZb, k15, false},
     "Farsend_15_bt+802.hex"},
    {"no version digits count as 1.0", {"Farsend_bt.hex"}, {kBt, k10, false}, "Farsend_bt.hex"},
    {"no version digits are not 1.5", {"Farsend_bt.hex"}, {kBt, k15, false}, std::nullopt},
    {"1.0 among versions", {"Farsend_20_bt.hex", "Farsend_10_bt.hex"}, {kBt, k10, false},
     "Farsend_10_bt.hex"},
    {"(1, 15) is not 1.5", {"Farsend_115_bt.hex"}, {kBt, k15, false}, std::nullopt},
    {"(1, 15) serves Any", {"Farsend_115_bt.hex"}, {kBt, kAnyVersion, false},
     "Farsend_115_bt.hex"},
    {"(8, 2) from the marker is not 2.0", {"Farsend_802_20.hex"}, {kZb, k20, false},
     std::nullopt},
    {"(8, 2) serves Any", {"Farsend_802_20.hex"}, {kZb, kAnyVersion, false},
     "Farsend_802_20.hex"},
    {"letter case of the name is ignored", {"FARSEND_15_BT.HEX"}, {kBt, k15, false},
     "FARSEND_15_BT.HEX"},
    {"names outside the pattern are never taken",
     {"Other_15_bt.hex", "Farsend_15_bt.hex.bak", "farsend_15_bt.txt"}, {kBt, k15, false},
     std::nullopt},
    {"unknown variant value takes nothing", {"Farsend_15_bt.hex", "Farsend_15.hex"},
     {static_cast<DeviceType>(7), k15, false}, std::nullopt},
    {"unknown version value takes nothing", {"Farsend_15_bt.hex", "Farsend_bt.hex"},
     {kBt, static_cast<HardwareVersion>(4), false}, std::nullopt},
    {"empty listing", {}, {kAnyType, kAnyVersion, false}, std::nullopt},
};
// clang-format on

class ListingTests : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ListingTests, ChoosesTheExpectedEntry) {
    const ListingCase& c = GetParam();
    const std::string directory = "fw";
    const std::optional<std::string> chosen = SelectFromListing(c.listing, directory, c.request);
    if (c.chosen) {
        ASSERT_TRUE(chosen.has_value()) << c.what;
        EXPECT_EQ(*chosen, JoinPath(directory, *c.chosen)) << c.what;
    } else {
        EXPECT_FALSE(chosen.has_value()) << c.what << ": chose " << chosen.value_or("");
    }
}

INSTANTIATE_TEST_SUITE_P(Selection, ListingTests, ::testing::ValuesIn(kListingCases));

TEST(FirmwareFileName, PatternIgnoresCaseAndNeedsBothEnds) {
    struct Case {
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"Farsend.hex", true},         {"farsend_15_bt.HEX", true}, {"FARSEND_X.Hex", true},
        {"Farsend_15_bt.hexx", false}, {"Farsen_15_bt.hex", false}, {"xFarsend_15.hex", false},
        {"Farsendhex", false},         {"Farsend", false},          {".hex", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsFirmwareFileName(c.name), c.matches) << c.name;
}

}  // namespace
}  // namespace farsend::firmware

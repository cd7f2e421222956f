#include "firmware/image_names.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace farsend::firmware {
namespace {

struct NameCase {
    std::string path;
    bool factory;
    bool intel;
    bool zigbee;
    bool bluetooth;
    bool hasVersion;
    int32_t major;
    int32_t minor;
};

// clang-format off
const std::vector<NameCase> kNameCases = {
    //  path                              fact  intel  zig   bt    ver   maj min
    {"Farsend_15_bt.hex",                 false, false, false, true,  true,  1, 5},
    {"Farsend_20_802.hex",                false, false, true,  false, true,  2, 0},
    {"Farsend_10+bluetooth_f.hex",        true,  false, false, true,  true,  1, 0},
    {"Farsend_20+802_f_b.hex",            true,  false, true,  false, true,  2, 0},
    {"Farsend_15_bt_intel.hex",           false, true,  false, true,  true,  1, 5},
    {"Farsend_bt.hex",                    false, false, false, true,  false, 0, 0},
    // The dot ends the minor number.
    {"Farsend_bt_1.5.hex",                false, false, false, true,  true,  1, 0},
    // The first digits belong to the ZigBee marker.
    {"Farsend_802_20.hex",                false, false, true,  false, true,  8, 2},
    // Markers ignore letter case.
    {"FARSEND_15_BT.HEX",                 false, false, false, true,  true,  1, 5},
    {"Farsend_15_BLUETOOTH_F_INTEL.HEX",  true,  true,  false, true,  true,  1, 5},
    {"Farsend_20_Intel+802.hex",          false, true,  true,  false, true,  2, 0},
    {"Farsend_115_bt.hex",                false, false, false, true,  true,  1, 15},
    // A digit as the last character is not a version.
    {"Farsend_bt9",                       false, false, false, true,  false, 0, 0},
    {"9",                                 false, false, false, false, false, 0, 0},
    {"9x",                                false, false, false, false, true,  9, 0},
    // Both variant markers: each test answers for itself.
    {"Farsend_15_bt+802.hex",             false, false, true,  true,  true,  1, 5},
    // Near misses of the markers.
    {"Farsend_fx.hex",                    false, false, false, false, false, 0, 0},
    {"Farsend_80_bx.hex",                 false, false, false, false, true,  8, 0},
    {"Farsend-bt-802.hex",                false, false, false, false, true,  8, 2},
    {"Farsend_btle.hex",                  false, false, false, true,  false, 0, 0},
    // The minor number is read like strtol: blanks and a sign are taken.
    {"Farsend_1 5.hex",                   false, false, false, false, true,  1, 5},
    {"Farsend_1-5.hex",                   false, false, false, false, true,  1, -5},
    {"Farsend_1_5.hex",                   false, false, false, false, true,  1, 0},
    // A minor number too large for 32 bits saturates instead of overflowing.
    {"Farsend_199999999999_bt.hex",       false, false, false, true,  true,  1, INT32_MAX},
    {"Farsend_1-99999999999.hex",         false, false, false, false, true,  1, INT32_MIN},
    // Only the name part counts, whatever the folders are called.
    {"C:\\fw_f_\\v20_802\\Farsend_bt.hex",false, false, false, true,  false, 0, 0},
    {"/srv/_intel/1.5/Farsend_802.hex",   false, false, true,  false, true,  8, 2},
    {"C:Farsend_15_f.hex",                true,  false, false, false, true,  1, 5},
    {"",                                  false, false, false, false, false, 0, 0},
};
// clang-format on

class NameTests : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameTests, ClassifyTheNamePart) {
    const NameCase& c = GetParam();
    EXPECT_EQ(IsFactoryImageName(c.path), c.factory);
    EXPECT_EQ(HasIntelMarker(c.path), c.intel);
    EXPECT_EQ(IsZigBeeImageName(c.path), c.zigbee);
    EXPECT_EQ(IsBluetoothImageName(c.path), c.bluetooth);

    int32_t major = -77;
    int32_t minor = -88;
    EXPECT_EQ(ParseImageVersion(c.path, major, minor), c.hasVersion);
    if (c.hasVersion) {
        EXPECT_EQ(major, c.major);
        EXPECT_EQ(minor, c.minor);
    } else {
        // Callers preset the pair; a name without version leaves it alone.
        EXPECT_EQ(major, -77);
        EXPECT_EQ(minor, -88);
    }
    EXPECT_EQ(ImageVersionOf(c.path), (ImageVersion{c.major, c.minor}));
}

INSTANTIATE_TEST_SUITE_P(Names, NameTests, ::testing::ValuesIn(kNameCases));

struct NamePartCase {
    std::string path;
    std::string namePart;
};

class NamePartTests : public ::testing::TestWithParam<NamePartCase> {};

TEST_P(NamePartTests, KeepsOnlyTheLastComponent) {
    EXPECT_EQ(GetFileNamePart(GetParam().path), GetParam().namePart);
}

INSTANTIATE_TEST_SUITE_P(Paths, NamePartTests,
                         ::testing::ValuesIn(std::vector<NamePartCase>{
                             {"C:\\fw\\a.b.hex", "a.b.hex"},
                             {"fw/sub/Farsend_15_bt.hex", "Farsend_15_bt.hex"},
                             {"C:\\fw/mixed\\x.hex", "x.hex"},
                             {"x.hex", "x.hex"},
                             {"C:x.hex", "x.hex"},
                             {"C:\\fw\\", ""},
                             {"", ""},
                             {"noextension", "noextension"},
                         }));

}  // namespace
}  // namespace farsend::firmware

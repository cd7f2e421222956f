#include "link/win/os_class.h"

#include <gtest/gtest.h>

namespace farsend::link {
namespace {

struct OsCase {
    const char* name;
    bool queried;
    OsVersionRecord record;
    int16_t expected;
};

const OsCase kCases[] = {
    {"QueryFailed", false, {}, 0},
    {"Windows95", true, {kPlatform9x, 4, 0, ""}, 0},
    {"Windows95OSR2", true, {kPlatform9x, 4, 0, " B"}, 0},
    {"Windows98EmptyServicePack", true, {kPlatform9x, 4, 10, ""}, 2},
    {"Windows98OtherServicePack", true, {kPlatform9x, 4, 10, " B "}, 2},
    {"Windows98OnlyOneCharacter", true, {kPlatform9x, 4, 10, "A"}, 2},
    {"Windows98LowerCaseA", true, {kPlatform9x, 4, 10, " a "}, 2},
    {"Windows98SecondEdition", true, {kPlatform9x, 4, 10, " A "}, 3},
    {"Windows98SecondEditionTwoCharacters", true, {kPlatform9x, 4, 10, "xA"}, 3},
    {"WindowsMe", true, {kPlatform9x, 4, 90, ""}, 4},
    {"NineXOtherMinor", true, {kPlatform9x, 4, 20, ""}, 6},
    {"NineXOtherMajor", true, {kPlatform9x, 5, 0, ""}, 6},
    {"NT351", true, {kPlatformNt, 3, 51, ""}, 1},
    {"NT4", true, {kPlatformNt, 4, 0, "Service Pack 6"}, 1},
    {"Windows2000", true, {kPlatformNt, 5, 0, "Service Pack 4"}, 5},
    {"WindowsXP", true, {kPlatformNt, 5, 1, "Service Pack 3"}, 6},
    {"Server2003", true, {kPlatformNt, 5, 2, ""}, 6},
    {"Windows7", true, {kPlatformNt, 6, 1, "Service Pack 1"}, 6},
    {"Windows10", true, {kPlatformNt, 10, 0, ""}, 6},
    {"Win32s", true, {0, 3, 10, ""}, 6},
    {"WindowsCE", true, {3, 4, 10, " A "}, 6},
    {"NullServicePackText", true, {kPlatform9x, 4, 10, nullptr}, 2},
};

class OsClassTest : public ::testing::TestWithParam<OsCase> {};

TEST_P(OsClassTest, Classifies) {
    const OsCase& c = GetParam();
    EXPECT_EQ(ClassifyOsVersion(c.queried ? &c.record : nullptr), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, OsClassTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GetOsClassTest, SixtyFourBitWindowsIsClassSix) {
    // A 64-bit program runs only on NT 5.2 or later, which is class 6; this
    // checks that the real version query is read correctly.
    EXPECT_EQ(GetOsClass(), 6);
}

}  // namespace
}  // namespace farsend::link

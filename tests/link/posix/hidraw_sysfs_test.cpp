#include "link/posix/hidraw_sysfs.h"

#include <gtest/gtest.h>

#include "link/posix/fake_hidraw_tree.h"

namespace farsend::link {
namespace {

using testing::FakeHidrawTree;

struct UeventCase {
    const char* name;
    const char* text;
    bool valid;
    HidId expected;
};

const UeventCase kUeventCases[] = {
    {"UsbBridge", "DRIVER=hid-generic\nHID_ID=0003:00001209:00000001\nHID_NAME=x\n", true,
     {0x0003, 0x1209, 0x0001}},
    {"LowerCaseDigitsAndFirstLine", "HID_ID=0005:0000abcd:0000ef01", true,
     {0x0005, 0xABCD, 0xEF01}},
    {"NoHidIdLine", "DRIVER=hid-generic\nHID_NAME=x\n", false, {}},
    {"KeyMustStartTheLine", "XHID_ID=0003:00001209:00000001\n", false, {}},
    {"VendorAbove16Bits", "HID_ID=0003:00011209:00000001\n", false, {}},
    {"MissingProduct", "HID_ID=0003:00001209\n", false, {}},
    {"EmptyField", "HID_ID=0003::00000001\n", false, {}},
    {"NotHexadecimal", "HID_ID=0003:0000120G:00000001\n", false, {}},
    {"TooManyDigits", "HID_ID=0003:000001209:00000001\n", false, {}},
};

class UeventTest : public ::testing::TestWithParam<UeventCase> {};

TEST_P(UeventTest, HidId) {
    const UeventCase& c = GetParam();
    const auto id = ParseHidIdFromUevent(c.text);
    ASSERT_EQ(id.has_value(), c.valid);
    if (!c.valid) return;
    EXPECT_EQ(id->bus, c.expected.bus);
    EXPECT_EQ(id->vendor, c.expected.vendor);
    EXPECT_EQ(id->product, c.expected.product);
}

INSTANTIATE_TEST_SUITE_P(Cases, UeventTest, ::testing::ValuesIn(kUeventCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScanHidrawNodesTest, NumericOrderOnlyHidrawEntriesAndTheirIds) {
    FakeHidrawTree tree;
    tree.AddDevice("hidraw10", 0x1209, 0x0001);
    tree.AddDevice("hidraw2", 0x046D, 0xC52B);
    tree.AddSysfsEntry("hidraw0", "");  // no uevent file
    tree.AddSysfsEntry("hidrawx", "HID_ID=0003:00001209:00000001\n");
    tree.AddSysfsEntry("hidraw", "HID_ID=0003:00001209:00000001\n");
    tree.AddSysfsEntry("input7", "HID_ID=0003:00001209:00000001\n");

    const auto nodes = ScanHidrawNodes(tree.Roots());

    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].name, "hidraw0");
    EXPECT_EQ(nodes[1].name, "hidraw2");
    EXPECT_EQ(nodes[2].name, "hidraw10");
    EXPECT_EQ(nodes[2].devicePath, tree.Roots().dev + "/hidraw10");
    EXPECT_EQ(nodes[2].sysfsPath, tree.Roots().sysClass + "/hidraw10");
    EXPECT_FALSE(nodes[0].id.has_value());
    ASSERT_TRUE(nodes[1].id.has_value());
    EXPECT_EQ(nodes[1].id->vendor, 0x046D);
    ASSERT_TRUE(nodes[2].id.has_value());
    EXPECT_EQ(nodes[2].id->vendor, 0x1209);
    EXPECT_EQ(nodes[2].id->product, 0x0001);
}

TEST(ScanHidrawNodesTest, MissingRootYieldsNothing) {
    FakeHidrawTree tree;
    HidrawRoots roots = tree.Roots();
    roots.sysClass += "/absent";
    EXPECT_TRUE(ScanHidrawNodes(roots).empty());
}

TEST(ReadSmallFileTest, RefusesFilesAboveTheLimit) {
    FakeHidrawTree tree;
    tree.AddSysfsEntry("hidraw0", std::string(100, 'x'));
    const std::string path = tree.Roots().sysClass + "/hidraw0/device/uevent";
    EXPECT_EQ(ReadSmallFile(path, 100).value_or(""), std::string(100, 'x'));
    EXPECT_FALSE(ReadSmallFile(path, 99).has_value());
    EXPECT_FALSE(ReadSmallFile(path + ".absent").has_value());
}

}  // namespace
}  // namespace farsend::link

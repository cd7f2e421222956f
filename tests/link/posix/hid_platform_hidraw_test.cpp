#include "link/posix/hid_platform_hidraw.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "link/posix/fake_hidraw_tree.h"

namespace farsend::link {
namespace {

using testing::FakeHidrawTree;

// One unnumbered 64-byte input and output report, a 5-byte feature report.
const std::vector<uint8_t> kUnnumbered = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75,
                                          0x08, 0x95, 0x40, 0x81, 0x02, 0x95, 0x40, 0x91,
                                          0x02, 0x95, 0x05, 0xB1, 0x02, 0xC0};
// Report 1: 8-byte input; report 2: 8-byte output.
const std::vector<uint8_t> kNumbered = {0x75, 0x08, 0x95, 0x08, 0x85, 0x01,
                                        0x81, 0x02, 0x85, 0x02, 0x91, 0x02};

class HidrawPlatformTest : public ::testing::Test {
protected:
    // Opens `path` and closes the handle at the end of the test.
    HidHandle OpenTracked(const std::string& path) {
        const HidHandle handle = platform_.Open(path);
        if (handle != kNoHandle) handles_.push_back(handle);
        return handle;
    }
    void TearDown() override {
        for (HidHandle handle : handles_) platform_.Close(handle);
    }

    FakeHidrawTree tree_;
    HidrawPlatform platform_{tree_.Roots()};
    std::vector<HidHandle> handles_;
};

TEST_F(HidrawPlatformTest, EnumeratesDeviceNodesInNumericOrder) {
    const std::string second = tree_.AddDevice("hidraw11", 0x1209, 0x0001);
    const std::string first = tree_.AddDevice("hidraw9", 0x1209, 0x0002);
    EXPECT_EQ(platform_.EnumerateInterfaces(), (std::vector<std::string>{first, second}));
}

TEST_F(HidrawPlatformTest, IdentityComesFromTheUeventsPhysAndUniq) {
    struct Case {
        const char* uevent;  // empty: no uevent file, and the node is no hidraw node
        const char* location;
        const char* serial;
    };
    // The kernel writes both keys for every HID device, empty when it knows
    // nothing; uhid devices carry what their creator gave.
    const Case cases[] = {
        {"HID_ID=0003:00001209:00000001\nHID_NAME=Bridge\nHID_PHYS=usb-0000:00:14.0-2.3/input0\n"
         "HID_UNIQ=FS0042\nMODALIAS=hid:b0003g0001v00001209p00000001\n",
         "usb-0000:00:14.0-2.3/input0", "FS0042"},
        {"HID_ID=0003:00001209:00000001\nHID_PHYS=farsend-uhid-2\nHID_UNIQ=\n", "farsend-uhid-2",
         ""},
        {"HID_ID=0003:00001209:00000001\n", "", ""},
        {"", "", ""},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uevent);
        const std::string name = "hidraw" + std::to_string(index++);
        if (*c.uevent != '\0') tree_.AddSysfsEntry(name, c.uevent);
        const std::string node = tree_.AddDeviceNode(name);
        const HidIdentity identity = platform_.Identify(node);
        EXPECT_EQ(identity.location, c.location);
        EXPECT_EQ(identity.serial, c.serial);
    }
}

TEST_F(HidrawPlatformTest, FailedOpenIsRememberedWithItsErrno) {
    EXPECT_TRUE(platform_.LastOpenError().path.empty());
    const std::string absent = tree_.Roots().dev + "/hidraw5";
    EXPECT_EQ(platform_.Open(absent), kNoHandle);
    EXPECT_EQ(platform_.LastOpenError().path, absent);
    EXPECT_EQ(platform_.LastOpenError().error, ENOENT);
}

TEST_F(HidrawPlatformTest, AttributesComeFromTheNodesUeventWhenTheIoctlIsMissing) {
    const HidHandle bridge = OpenTracked(tree_.AddDevice("hidraw0", 0xFEDC, 0x8001));
    tree_.AddSysfsEntry("hidraw1", "");
    const HidHandle anonymous = OpenTracked(tree_.AddDeviceNode("hidraw1"));
    ASSERT_NE(bridge, kNoHandle);
    ASSERT_NE(anonymous, kNoHandle);

    HidAttributes attributes;
    ASSERT_TRUE(platform_.GetAttributes(bridge, &attributes));
    EXPECT_EQ(attributes.vendorId, 0xFEDC);
    EXPECT_EQ(attributes.productId, 0x8001);
    EXPECT_FALSE(platform_.GetAttributes(anonymous, &attributes));
}

TEST_F(HidrawPlatformTest, CapsCountTheReportIdByteAndRefuseABadDescriptor) {
    const HidHandle good = OpenTracked(tree_.AddDevice("hidraw0", 0x1209, 1, kUnnumbered));
    const HidHandle bad = OpenTracked(tree_.AddDevice("hidraw1", 0x1209, 1, {0x75, 0x08, 0xB4}));
    const HidHandle none = OpenTracked(tree_.AddDevice("hidraw2", 0x1209, 1));

    HidCaps caps;
    ASSERT_TRUE(platform_.GetCaps(good, &caps));
    EXPECT_EQ(caps.inputReportByteLength, 65);
    EXPECT_EQ(caps.outputReportByteLength, 65);
    EXPECT_EQ(caps.featureReportByteLength, 6);
    EXPECT_FALSE(platform_.GetCaps(bad, &caps));
    EXPECT_FALSE(platform_.GetCaps(none, &caps));
}

TEST_F(HidrawPlatformTest, UnnumberedInputGainsTheReportIdByte) {
    const std::string node = tree_.AddDevice("hidraw0", 0x1209, 1, kUnnumbered);
    const HidHandle writer = OpenTracked(node);
    const HidHandle reader = OpenTracked(node);

    // What the kernel hands out for an unnumbered device: data from byte 0.
    std::vector<uint8_t> data(64);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_EQ(platform_.WriteReport(writer, data.data(), data.size()), 64);

    uint8_t buffer[1024] = {0xFF};
    size_t length = 0;
    ASSERT_EQ(platform_.ReadReport(reader, buffer, sizeof buffer, &length, 1000),
              ReadStatus::kReport);
    ASSERT_EQ(length, 65u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer + 1));
}

TEST_F(HidrawPlatformTest, NumberedInputIsPassedOnUnchanged) {
    const std::string node = tree_.AddDevice("hidraw0", 0x1209, 1, kNumbered);
    const HidHandle writer = OpenTracked(node);
    const HidHandle reader = OpenTracked(node);
    const uint8_t report[9] = {0x01, 1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(platform_.WriteReport(writer, report, sizeof report), 9);

    uint8_t buffer[64] = {};
    size_t length = 0;
    ASSERT_EQ(platform_.ReadReport(reader, buffer, sizeof buffer, &length, 1000),
              ReadStatus::kReport);
    ASSERT_EQ(length, 9u);
    EXPECT_TRUE(std::equal(report, report + 9, buffer));
}

TEST_F(HidrawPlatformTest, ReadTimesOutWhenNothingIsWaiting) {
    const HidHandle reader = OpenTracked(tree_.AddDevice("hidraw0", 0x1209, 1, kUnnumbered));
    uint8_t buffer[65];
    size_t length = 0;
    EXPECT_EQ(platform_.ReadReport(reader, buffer, sizeof buffer, &length, 0),
              ReadStatus::kTimedOut);
}

TEST_F(HidrawPlatformTest, ReadFailsWithoutAUsableDescriptorOrRoom) {
    const HidHandle undescribed = OpenTracked(tree_.AddDevice("hidraw0", 0x1209, 1));
    const HidHandle unnumbered = OpenTracked(tree_.AddDevice("hidraw1", 0x1209, 1, kUnnumbered));
    uint8_t buffer[65];
    size_t length = 0;
    EXPECT_EQ(platform_.ReadReport(undescribed, buffer, sizeof buffer, &length, 0),
              ReadStatus::kFailed);
    // One byte holds only the added report ID: no room for any data.
    EXPECT_EQ(platform_.ReadReport(unnumbered, buffer, 1, &length, 0), ReadStatus::kFailed);
}

TEST_F(HidrawPlatformTest, FeatureReportFailsOnANodeWithoutTheIoctl) {
    const HidHandle handle = OpenTracked(tree_.AddDevice("hidraw0", 0x1209, 1, kUnnumbered));
    const uint8_t feature[6] = {0x00, 0x09, 0x08, 0x07, 0x06, 0x05};
    EXPECT_FALSE(platform_.SetFeature(handle, feature, sizeof feature));
}

TEST_F(HidrawPlatformTest, NoLegacyFramingNoRestartNoQueueLimit) {
    const HidHandle handle = OpenTracked(tree_.AddDevice("hidraw0", 0x1209, 1, kUnnumbered));
    EXPECT_EQ(platform_.HidLibraryFileVersion(), "");
    EXPECT_LT(platform_.OsClass(), 5);
    EXPECT_EQ(platform_.RestartBridge(0x1209, 0x0001, ""), 1);
    EXPECT_TRUE(platform_.SetNumInputBuffers(handle, 512));
}

TEST(SystemHidPlatformTest, IsTheHidrawBackend) {
    EXPECT_EQ(&SystemHidPlatform(), static_cast<HidPlatform*>(&SystemHidrawPlatform()));
}

struct ProbeCase {
    const char* name;
    int nodeKind;  // 0 FIFO, 1 directory (open fails with EISDIR), 2 unreadable FIFO, 3 none
    BridgeAccess expected;
    int error;
};

class ProbeBridgeAccessTest : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeBridgeAccessTest, TellsAbsentFromDeniedFromOpenable) {
    const ProbeCase& c = GetParam();
    if (c.nodeKind == 2 && ::geteuid() == 0) {
        GTEST_SKIP() << "running as root: file permissions do not deny access";
    }
    FakeHidrawTree tree;
    tree.AddDevice("hidraw0", 0x046D, 0xC52B);  // another device comes first
    const std::string node = tree.Roots().dev + "/hidraw1";
    switch (c.nodeKind) {
        case 0:
            tree.AddDevice("hidraw1", 0x1209, 0x0001);
            break;
        case 1:
            tree.AddSysfsEntry("hidraw1", "HID_ID=0003:00001209:00000001\n");
            std::filesystem::create_directories(node);
            break;
        case 2:
            tree.AddDevice("hidraw1", 0x1209, 0x0001);
            ::chmod(node.c_str(), 0);
            break;
        default:
            break;
    }
    const BridgeAccessReport report = ProbeBridgeAccess(0x1209, 0x0001, tree.Roots());
    EXPECT_EQ(report.access, c.expected);
    EXPECT_EQ(report.error, c.error);
    if (c.expected != BridgeAccess::kAbsent) {
        EXPECT_EQ(report.path, node);
        EXPECT_EQ(DescribeBridgeAccess(report).rfind(node + ": ", 0), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ProbeBridgeAccessTest,
                         ::testing::Values(ProbeCase{"Openable", 0, BridgeAccess::kAccessible, 0},
                                           ProbeCase{"OpenFails", 1, BridgeAccess::kFailed, EISDIR},
                                           ProbeCase{"Denied", 2, BridgeAccess::kDenied, EACCES},
                                           ProbeCase{"Absent", 3, BridgeAccess::kAbsent, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace farsend::link

#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "link/bridge_ids.h"
#include "link/hid_serial_link.h"
#include "link/posix/fake_hidraw_tree.h"
#include "link/posix/hid_platform_hidraw.h"
#include "support/virtual_clock.h"

namespace farsend::link {
namespace {

using testing::FakeHidrawTree;

// One unnumbered 64-byte input and output report.
const std::vector<uint8_t> kBridgeDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                                                0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0x95,
                                                0x40, 0x91, 0x02, 0xC0};

int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) ++count;
        ::closedir(dir);
    }
    return count;
}

struct OpenCase {
    const char* name;
    // Builds the devices of the fake tree.
    std::function<void(const FakeHidrawTree&)> populate;
    // Virtual time slept: 30 ms only when the open got as far as the
    // configuration feature report, with the bridge open and its reader
    // running; never the 200 ms pause of a restart.
    Millis slept;
};

const OpenCase kCases[] = {
    {"NoHidDevicesAtAll", [](const FakeHidrawTree&) {}, Millis(0)},
    {"OnlyOtherDevices",
     [](const FakeHidrawTree& tree) {
         tree.AddDevice("hidraw0", 0x046D, 0xC52B, kBridgeDescriptor);
         tree.AddDevice("hidraw1", kBridgeVendorId, kBridgeProductId + 1, kBridgeDescriptor);
     },
     Millis(0)},
    {"BridgeNodeMissing",
     [](const FakeHidrawTree& tree) {
         char uevent[64];
         std::snprintf(uevent, sizeof uevent, "HID_ID=0003:%08X:%08X\n", kBridgeVendorId,
                       kBridgeProductId);
         tree.AddSysfsEntry("hidraw0", uevent, kBridgeDescriptor);
     },
     Millis(0)},
    // Found and opened, the reader starts, but the node takes no feature
    // report: the open must undo all of it.
    {"BridgeRefusesTheConfiguration",
     [](const FakeHidrawTree& tree) {
         tree.AddDevice("hidraw0", kBridgeVendorId, kBridgeProductId, kBridgeDescriptor);
     },
     Millis(30)},
};

class HidLinkOpenHidrawTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(HidLinkOpenHidrawTest, FailsWithMinusFourAndLeavesNothingOpen) {
    FakeHidrawTree tree;
    GetParam().populate(tree);
    HidrawPlatform platform(tree.Roots());
    farsend::testing::VirtualClock clock;
    HidSerialLink link;
    link.platform = &platform;
    link.clock = &clock;

    const int descriptorsBefore = OpenDescriptorCount();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(HidLinkOpen(link), link::LinkResult::OpenFailed);
    const auto elapsed = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(link.writeHandle, kNoHandle);
    EXPECT_EQ(link.readHandle, kNoHandle);
    EXPECT_FALSE(link.reader);
    EXPECT_FALSE(link.rxBuffer);
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
    EXPECT_EQ(clock.Slept(), GetParam().slept);
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

INSTANTIATE_TEST_SUITE_P(Cases, HidLinkOpenHidrawTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HidLinkOpenSystemHidrawTest, WithoutABridgeOpenFailsAtOnce) {
    if (ProbeBridgeAccess(kBridgeVendorId, kBridgeProductId).access != BridgeAccess::kAbsent) {
        GTEST_SKIP() << "a bridge is plugged in";
    }
    farsend::testing::VirtualClock clock;
    HidSerialLink link;
    link.platform = &SystemHidPlatform();
    link.clock = &clock;
    const int descriptorsBefore = OpenDescriptorCount();
    EXPECT_EQ(HidLinkOpen(link), link::LinkResult::OpenFailed);
    EXPECT_EQ(link.writeHandle, kNoHandle);
    EXPECT_FALSE(link.reader);
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
}

}  // namespace
}  // namespace farsend::link

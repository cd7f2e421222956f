// Which bridge a station opens, named by node, location or serial, before
// and after its bridge was unplugged and something was plugged in.
#include "cli/station_bridge.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/bridge_ids.h"
#include "link/fake_hid_platform.h"

namespace farsend::cli {
namespace {

using link::testing::FakeHidPlatform;
using link::testing::FakeInterface;

FakeInterface Bridge(const std::string& node, const std::string& location,
                     const std::string& serial) {
    FakeInterface i = FakeHidPlatform::Bridge(node, link::kBridgeVendorId, link::kBridgeProductId);
    i.identity = {location, serial};
    return i;
}

FakeInterface Mouse(const std::string& node, const std::string& location) {
    FakeInterface i = FakeHidPlatform::Bridge(node, 0x046D, 0xC077);
    i.identity = {location, ""};
    return i;
}

// Two bridges side by side, and what becomes of them.
const std::vector<FakeInterface> kTwoBridges = {
    Bridge("hidraw0", "usb-1.2", "FST0001"),
    Bridge("hidraw1", "usb-1.3", "FST0002"),
};

struct LocateCase {
    const char* label;
    std::string name;                   // --device NAME
    std::vector<FakeInterface> before;  // when the station is set up
    std::string first;                  // the path of the first open
    std::vector<FakeInterface> after;   // after an unplug and replug
    std::string again;                  // the path of the next open
};

class StationBridgeTest : public ::testing::TestWithParam<LocateCase> {};

TEST_P(StationBridgeTest, OpensItsOwnBridgeAgain) {
    const LocateCase& c = GetParam();
    FakeHidPlatform platform;
    platform.interfaces = c.before;
    StationBridge bridge(c.name, BridgeNamed(FindBridges(platform), c.name));
    EXPECT_EQ(bridge.PathToOpen(platform), c.first);
    EXPECT_EQ(platform.OpenHandles(), 0);

    platform.interfaces = c.after;
    EXPECT_EQ(bridge.PathToOpen(platform), c.again);
    // Asked again without a change, it gives the same answer.
    EXPECT_EQ(bridge.PathToOpen(platform), c.again);
    EXPECT_EQ(platform.OpenHandles(), 0);
}

std::vector<LocateCase> LocateCases() {
    return {
        {"location_same_socket_new_node",
         "usb-1.2",
         kTwoBridges,
         "hidraw0",
         {Bridge("hidraw1", "usb-1.3", "FST0002"), Bridge("hidraw2", "usb-1.2", "FST0001")},
         "hidraw2"},
        // Named by node, the station is still the socket once it is known.
        {"node_same_socket_new_node",
         "hidraw1",
         kTwoBridges,
         "hidraw1",
         {Bridge("hidraw0", "usb-1.2", "FST0001"), Bridge("hidraw3", "usb-1.3", "FST0002")},
         "hidraw3"},
        // Another unit in the socket is the station's next unit.
        {"serial_socket_gets_another_bridge",
         "FST0001",
         kTwoBridges,
         "hidraw0",
         {Bridge("hidraw2", "usb-1.2", "FST0009"), Bridge("hidraw1", "usb-1.3", "FST0002")},
         "hidraw2"},
        // Nothing in its socket: the bridge its name names, wherever it is.
        {"serial_moved_to_another_socket",
         "FST0001",
         kTwoBridges,
         "hidraw0",
         {Bridge("hidraw1", "usb-1.3", "FST0002"), Bridge("hidraw4", "usb-1.5", "FST0001")},
         "hidraw4"},
        {"unchanged", "FST0002", kTwoBridges, "hidraw1", kTwoBridges, "hidraw1"},
        // Its node now belongs to another device elsewhere: nothing to open,
        // and never the other station's bridge.
        {"node_reused_by_a_mouse",
         "hidraw0",
         kTwoBridges,
         "hidraw0",
         {Mouse("hidraw0", "usb-1.9"), Bridge("hidraw1", "usb-1.3", "FST0002")},
         ""},
        {"bridge_away",
         "usb-1.3",
         kTwoBridges,
         "hidraw1",
         {Bridge("hidraw0", "usb-1.2", "FST0001")},
         ""},
        // Not plugged in when the station was set up.
        {"plugged_in_later",
         "usb-1.3",
         {Bridge("hidraw0", "usb-1.2", "FST0001")},
         "",
         kTwoBridges,
         "hidraw1"},
        // An empty serial names no bridge that has none.
        {"empty_serial_is_no_name",
         "",
         {Bridge("hidraw0", "usb-1.2", "")},
         "",
         {Bridge("hidraw0", "usb-1.2", "")},
         ""},
        // A system that gives no locations: the name alone decides.
        {"no_locations_node",
         "hidraw0",
         {Bridge("hidraw0", "", "")},
         "hidraw0",
         {Bridge("hidraw1", "", "")},
         ""},
    };
}

INSTANTIATE_TEST_SUITE_P(Names, StationBridgeTest, ::testing::ValuesIn(LocateCases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(InterfaceNamedTest, AnyInterfaceByNodeLocationOrSerial) {
    FakeHidPlatform platform;
    platform.interfaces = {Mouse("hidraw0", "usb-1.9"), Bridge("hidraw1", "usb-1.3", "FST0002")};
    for (const std::string name : {"hidraw0", "usb-1.9", "hidraw1", "usb-1.3", "FST0002"}) {
        EXPECT_TRUE(InterfaceNamed(platform, name)) << name;
    }
    for (const std::string name : {"", "hidraw", "usb-1", "FST0001"}) {
        EXPECT_FALSE(InterfaceNamed(platform, name)) << name;
    }
    EXPECT_FALSE(BridgeNamed(FindBridges(platform), "usb-1.9"));
}

}  // namespace
}  // namespace farsend::cli

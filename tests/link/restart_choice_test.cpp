// Which present device a restart goes to, with several bridges of the same
// identifiers on one system.
#include "link/restart_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace farsend::link {
namespace {

constexpr const char* kPattern = "USB\\VID_1209&PID_0001";
// The bridge being opened: its interface, HID device and USB device.
const std::vector<std::string> kOpened = {
    "HID\\VID_1209&PID_0001\\7&2A3B11C&0&0000",
    "USB\\VID_1209&PID_0001\\FST0002",
    "USB\\ROOT_HUB30\\4&1B3A5C&0&0",
};
// The same bridge under Wine's HID bus: no USB device anywhere in its line.
const std::vector<std::string> kOpenedUnderWine = {
    "HID\\VID_1209&PID_0001&MI_00\\0&FSW0041&0&0",
    "WINEBUS\\VID_1209&PID_0001&MI_00\\256&FSW0041&0&0&0",
    "ROOT\\WINEBUS\\0000",
};

struct RestartCase {
    const char* name;
    std::string deviceId;
    bool firstMatch;
    std::vector<std::string> lineage;
    bool restarted;
};

class RestartChoiceTest : public ::testing::TestWithParam<RestartCase> {};

TEST_P(RestartChoiceTest, OnlyTheDeviceBeingOpened) {
    const RestartCase& c = GetParam();
    EXPECT_EQ(IsDeviceToRestart(c.deviceId, kPattern, RestartChoice{c.firstMatch, c.lineage}),
              c.restarted);
}

std::vector<RestartCase> RestartCases() {
    return {
        // A link that searches restarts the first bridge, as it always has.
        {"search_any_bridge", "USB\\VID_1209&PID_0001\\FST0001", true, {}, true},
        {"search_other_device", "USB\\VID_046D&PID_C077\\5&1", true, {}, false},
        {"search_empty_id", "", true, {}, false},
        // A link given a path restarts its own bridge's USB device only.
        {"own_bridge", "USB\\VID_1209&PID_0001\\FST0002", false, kOpened, true},
        {"own_bridge_other_case", "USB\\VID_1209&PID_0001\\fst0002", false, kOpened, true},
        {"another_stations_bridge", "USB\\VID_1209&PID_0001\\FST0001", false, kOpened, false},
        // Ancestors without the pattern are never restarted (the hub).
        {"own_hub", "USB\\ROOT_HUB30\\4&1B3A5C&0&0", false, kOpened, false},
        // The pattern stays case-sensitive.
        {"pattern_case",
         "usb\\vid_1209&pid_0001\\FST0002",
         false,
         {"usb\\vid_1209&pid_0001\\FST0002"},
         false},
        // The interface is not present: nothing is restarted, above all not
        // the first bridge found.
        {"interface_gone", "USB\\VID_1209&PID_0001\\FST0002", false, {}, false},
        // A serial that merely begins like the wanted one is another bridge.
        {"longer_serial", "USB\\VID_1209&PID_0001\\FST00021", false, kOpened, false},
        // On a bus that is not USB (Wine's) the bridge has no USB device:
        // neither its bus device nor its HID device is restarted, by a
        // search or by a link given its path.
        {"wine_bus_device", kOpenedUnderWine[1], false, kOpenedUnderWine, false},
        {"wine_hid_device", kOpenedUnderWine[0], false, kOpenedUnderWine, false},
        {"search_wine_bus_device", kOpenedUnderWine[1], true, {}, false},
    };
}

INSTANTIATE_TEST_SUITE_P(Devices, RestartChoiceTest, ::testing::ValuesIn(RestartCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace farsend::link

// What sysfs tells about the hidraw nodes: their names, device nodes and the
// bus, vendor and product from each node's uevent. The roots are injectable
// so that tests can build a fake tree in a temporary directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace farsend::link {

struct HidrawRoots {
    std::string sysClass = "/sys/class/hidraw";  // holds hidraw0, hidraw1, ...
    std::string dev = "/dev";                    // holds the device nodes
};

struct HidId {
    uint16_t bus = 0;
    uint16_t vendor = 0;
    uint16_t product = 0;
};

struct HidrawNode {
    std::string name;         // "hidraw3"
    std::string devicePath;   // "/dev/hidraw3"
    std::string sysfsPath;    // "/sys/class/hidraw/hidraw3"
    std::optional<HidId> id;  // from device/uevent; empty when unreadable
};

// Every hidrawN entry under roots.sysClass, ordered by N (hidraw2 before
// hidraw10), so that "the first bridge" means the same on every call.
// A missing or unreadable root yields no nodes.
std::vector<HidrawNode> ScanHidrawNodes(const HidrawRoots& roots);

// The HID_ID line of a uevent file's text: "HID_ID=0003:00001209:00000001"
// (bus:vendor:product in hexadecimal). Nothing when absent or out of range.
std::optional<HidId> ParseHidIdFromUevent(const std::string& ueventText);

// The value of one KEY=value line of a uevent file's text; empty when the
// key is absent (the kernel writes HID_UNIQ= with nothing for a device
// without a serial).
std::string UeventField(const std::string& ueventText, const std::string& key);

// The whole content of a small file; nothing when it cannot be read.
std::optional<std::string> ReadSmallFile(const std::string& path, size_t limit = 65536);

}  // namespace farsend::link

// --device NAME: the bridge a station opens. NAME is the device node, the
// location or the serial number that `farsend devices` lists; it is turned
// into the bridge's path once, and the link then opens that path alone. A
// bridge that comes back after an unplug is looked for at its location
// first, so that the bridge plugged into the same socket is the same
// station even when the system gives it another node.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "link/bridge_locator.h"
#include "link/hid_platform.h"

namespace farsend::cli {

// The bridge among `bridges` that NAME names by its path, location or
// serial, in the order listed. An empty location or serial names nothing:
// "--device ''" must not pick every bridge that lacks a serial.
std::optional<BridgeFound> BridgeNamed(const std::vector<BridgeFound>& bridges,
                                       const std::string& name);

// Where a station's bridge is after it went away: the bridge at its last
// location, else the one NAME names.
std::optional<BridgeFound> BridgeAgain(const std::vector<BridgeFound>& bridges,
                                       const std::string& name, const std::string& location);

// Whether any HID interface the platform lists, the bridge or not, answers
// to NAME.
bool InterfaceNamed(link::HidPlatform& platform, const std::string& name);

class StationBridge final : public link::BridgeLocator {
public:
    // `found`: the bridge NAME names now; none while it is not plugged in.
    StationBridge(std::string name, std::optional<BridgeFound> found);

    // The path of the last open while that interface is still listed at
    // the same location; else the bridge found again (BridgeAgain).
    std::string PathToOpen(link::HidPlatform& platform) override;

private:
    const std::string name_;
    // The bridge's latest whereabouts; only the opening thread uses them.
    std::string path_;
    std::string location_;
};

}  // namespace farsend::cli

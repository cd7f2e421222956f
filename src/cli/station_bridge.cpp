#include "cli/station_bridge.h"

#include <algorithm>
#include <utility>

#include "link/bridge_name.h"

namespace farsend::cli {

std::optional<BridgeFound> BridgeNamed(const std::vector<BridgeFound>& bridges,
                                       const std::string& name) {
    for (const BridgeFound& bridge : bridges) {
        if (link::BridgeAnswersTo(name, bridge.path, {bridge.location, bridge.serial})) {
            return bridge;
        }
    }
    return std::nullopt;
}

std::optional<BridgeFound> BridgeAgain(const std::vector<BridgeFound>& bridges,
                                       const std::string& name, const std::string& location) {
    if (!location.empty()) {
        for (const BridgeFound& bridge : bridges) {
            if (bridge.location == location) return bridge;
        }
    }
    return BridgeNamed(bridges, name);
}

bool InterfaceNamed(link::HidPlatform& platform, const std::string& name) {
    const std::vector<std::string> paths = platform.EnumerateInterfaces();
    return std::any_of(paths.begin(), paths.end(), [&](const std::string& path) {
        return link::BridgeAnswersTo(name, path, platform.Identify(path));
    });
}

StationBridge::StationBridge(std::string name, std::optional<BridgeFound> found)
    : name_(std::move(name)) {
    if (found) {
        path_ = found->path;
        location_ = found->location;
    }
}

std::string StationBridge::PathToOpen(link::HidPlatform& platform) {
    if (!path_.empty() && platform.Bind()) {
        const std::vector<std::string> paths = platform.EnumerateInterfaces();
        // Looking at the one path needs no open of any other device.
        if (std::find(paths.begin(), paths.end(), path_) != paths.end() &&
            platform.Identify(path_).location == location_) {
            return path_;
        }
    }
    const std::optional<BridgeFound> bridge = BridgeAgain(FindBridges(platform), name_, location_);
    if (!bridge) return {};
    path_ = bridge->path;
    location_ = bridge->location;
    return path_;
}

}  // namespace farsend::cli

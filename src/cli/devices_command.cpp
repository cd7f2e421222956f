// devices: the HID interfaces the platform lists, and which of them are the
// bridge.
#include <cstdio>

#include "cli/bridge_advice.h"
#include "cli/commands.h"
#include "cli/exit_status.h"
#include "common/printable_text.h"
#include "link/bridge_ids.h"
#include "units/record/unit_json.h"

namespace farsend::cli {
namespace {

struct Interface {
    std::string path;
    bool opened = false;
    link::HidAttributes attributes;
    link::HidCaps caps;
    link::HidIdentity identity;
    bool IsBridge() const {
        return opened && attributes.vendorId == link::kBridgeVendorId &&
               attributes.productId == link::kBridgeProductId;
    }
};

std::vector<Interface> Survey(link::HidPlatform& platform) {
    std::vector<Interface> found;
    if (!platform.Bind()) return found;
    for (const std::string& path : platform.EnumerateInterfaces()) {
        Interface entry;
        entry.path = path;
        entry.identity = platform.Identify(path);
        const link::HidHandle handle = platform.Open(path);
        if (handle != link::kNoHandle) {
            entry.opened = platform.GetAttributes(handle, &entry.attributes);
            if (entry.opened) platform.GetCaps(handle, &entry.caps);
            platform.Close(handle);
        }
        found.push_back(entry);
    }
    return found;
}

std::string IdText(const link::HidAttributes& attributes) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", static_cast<unsigned>(attributes.vendorId),
                  static_cast<unsigned>(attributes.productId));
    return text;
}

// A location or serial for a plain line: "-" when the system gives none, so
// that the fields stay in their places.
// A bridge's strings are whatever its maker (or a hostile device) put in
// its descriptors: escaped, so that they cannot drive the terminal.
std::string ShownText(const std::string& text) {
    return text.empty() ? "-" : PrintableText(text);
}

}  // namespace

std::vector<BridgeFound> FindBridges(link::HidPlatform& platform) {
    std::vector<BridgeFound> bridges;
    for (const Interface& entry : Survey(platform)) {
        if (entry.IsBridge()) {
            bridges.push_back({entry.path, entry.identity.location, entry.identity.serial});
        }
    }
    return bridges;
}

std::size_t CountBridges(link::HidPlatform& platform) {
    std::size_t bridges = 0;
    for (const Interface& entry : Survey(platform)) bridges += entry.IsBridge() ? 1 : 0;
    return bridges;
}

int RunDevices(const CliOptions& options, Console& console, link::HidPlatform& platform) {
    return RunDevices(options, console, std::vector<link::HidPlatform*>{&platform});
}

int RunDevices(const CliOptions& options, Console& console,
               const std::vector<link::HidPlatform*>& platforms) {
    std::vector<Interface> interfaces;
    for (link::HidPlatform* platform : platforms) {
        std::vector<Interface> found = Survey(*platform);
        interfaces.insert(interfaces.end(), found.begin(), found.end());
    }
    std::size_t bridges = 0;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Interface& entry : interfaces) {
        if (entry.IsBridge()) {
            ++bridges;
            if (options.json) {
                nlohmann::ordered_json item = nlohmann::ordered_json::object();
                item["path"] = units::JsonPathText(entry.path);
                item["vendor"] = entry.attributes.vendorId;
                item["product"] = entry.attributes.productId;
                item["input_report"] = entry.caps.inputReportByteLength;
                item["output_report"] = entry.caps.outputReportByteLength;
                item["location"] = units::JsonPathText(entry.identity.location);
                item["serial"] = units::JsonPathText(entry.identity.serial);
                list.push_back(std::move(item));
            } else {
                console.out << PrintableText(entry.path) << "  USB " << IdText(entry.attributes)
                            << "  reports: input " << entry.caps.inputReportByteLength
                            << ", output " << entry.caps.outputReportByteLength << " bytes"
                            << "  location " << ShownText(entry.identity.location) << "  serial "
                            << ShownText(entry.identity.serial) << '\n';
            }
        } else if (options.verbose && !options.json) {
            console.out << PrintableText(entry.path) << "  "
                        << (entry.opened ? "USB " + IdText(entry.attributes) + "  (not the bridge)"
                                         : std::string("(cannot be opened)"))
                        << '\n';
        }
    }
    if (options.json) {
        nlohmann::ordered_json result = nlohmann::ordered_json::object();
        result["devices"] = std::move(list);
        console.out << units::DumpJson(result) << '\n';
    }
    if (bridges == 0) {
        Complain(console, NoBridgeAdvice());
        return kExitNoTarget;
    }
    return kExitSuccess;
}

}  // namespace farsend::cli

#include "cli/device_filter.h"

namespace farsend::cli {

std::vector<std::string> SingleDevicePlatform::EnumerateInterfaces() {
    std::vector<std::string> shown;
    for (std::string& path : inner_.EnumerateInterfaces()) {
        if (path == name_) {
            shown.push_back(std::move(path));
            continue;
        }
        // An empty location or serial names nothing: "--device ''" must not
        // pick every bridge that lacks a serial.
        const link::HidIdentity identity = inner_.Identify(path);
        if ((!identity.location.empty() && identity.location == name_) ||
            (!identity.serial.empty() && identity.serial == name_)) {
            shown.push_back(std::move(path));
        }
    }
    return shown;
}

}  // namespace farsend::cli

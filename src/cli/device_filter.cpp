#include "cli/device_filter.h"

namespace farsend::cli {

std::vector<std::string> SingleDevicePlatform::EnumerateInterfaces() {
    std::vector<std::string> shown;
    for (std::string& path : inner_.EnumerateInterfaces()) {
        if (path == path_) shown.push_back(std::move(path));
    }
    return shown;
}

}  // namespace farsend::cli

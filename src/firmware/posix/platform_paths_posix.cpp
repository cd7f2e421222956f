#include "firmware/platform_paths.h"

namespace farsend::firmware {

std::filesystem::path NativePath(std::string_view path) {
    return std::filesystem::path(path);
}

std::optional<std::string> EightBitPath(const std::filesystem::path& path) {
    return path.native();
}

std::string EightBitPathForDisplay(const std::filesystem::path& path) {
    return path.native();
}

}  // namespace farsend::firmware

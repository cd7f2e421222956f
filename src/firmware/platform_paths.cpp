#include "firmware/platform_paths.h"

#include <system_error>

namespace farsend::firmware {

std::string JoinPath(std::string_view directory, std::string_view name) {
    std::string joined;
    joined.reserve(directory.size() + 1 + name.size());
    joined.append(directory);
    joined.push_back(kPathSeparator);
    joined.append(name);
    return joined;
}

bool IsExistingRegularFile(std::string_view path) {
    if (path.empty()) return false;
    std::error_code error;
    return std::filesystem::is_regular_file(NativePath(path), error);
}

bool IsExistingDirectory(std::string_view path) {
    if (path.empty()) return false;
    std::error_code error;
    return std::filesystem::is_directory(NativePath(path), error);
}

}  // namespace farsend::firmware

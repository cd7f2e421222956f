#include "units/folders.h"

#include <vector>

namespace farsend::units {

void CreateFolders(const std::filesystem::path& folder, std::error_code& error) {
    namespace fs = std::filesystem;
    error.clear();
    std::vector<fs::path> missing;
    for (fs::path at = folder; !at.empty() && !fs::exists(at, error); at = at.parent_path()) {
        missing.push_back(at);
        if (at == at.parent_path()) break;
    }
    error.clear();
    constexpr fs::perms kFolder = fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec;
    for (auto at = missing.rbegin(); at != missing.rend(); ++at) {
        // Another process may make it meanwhile: that is as good, and its
        // mode is that process's to choose.
        const bool made = fs::create_directory(*at, error);
        if (error) return;
        if (made) fs::permissions(*at, kFolder, error);
        if (error) return;
    }
    if (!fs::is_directory(folder, error) && !error) {
        error = std::make_error_code(std::errc::not_a_directory);
    }
}

}  // namespace farsend::units

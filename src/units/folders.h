// Folders and files a line's records live in, made with modes of their own
// rather than what the umask leaves: under `umask 000` a database, spool or
// report that anyone may write is a record anyone may falsify.
#pragma once

#include <filesystem>
#include <system_error>

namespace farsend::units {

// rw-r--r--: records, the spool, the report.
constexpr std::filesystem::perms kRecordPermissions =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
    std::filesystem::perms::group_read | std::filesystem::perms::others_read;

// Creates `folder` and its missing parents, each rwxr-xr-x. Folders there
// already keep their modes.
void CreateFolders(const std::filesystem::path& folder, std::error_code& error);

}  // namespace farsend::units

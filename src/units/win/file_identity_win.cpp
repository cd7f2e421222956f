// A file's identity on Windows: its volume's serial number and the file index
// NTFS keeps for it, the twins of a device and an inode number.
#include <windows.h>

#include "units/file_identity.h"

namespace farsend::units {

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
    // No access but the attributes, and every sharing mode: a station's
    // open database (SQLite shares it for reading and writing only) is
    // looked at without disturbing it.
    const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information = {};
    const bool known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (!known) return std::nullopt;
    return FileIdentity{
        information.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

}  // namespace farsend::units

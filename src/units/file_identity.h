// Which file a path names at this moment. A station keeps its SQLite file
// open for the whole run; if the file is deleted, or another put in its place
// (a backup restored over it), the open connection goes on writing into a
// file nobody will read, or the next open finds a pool that issues numbers
// again. Comparing the identity taken at the open with the path's identity
// now finds both.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace farsend::units {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;  // the inode, or the volume's file index
    bool operator==(const FileIdentity& other) const {
        return device == other.device && file == other.file;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// None when nothing is at `path` (or it cannot be looked at).
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

}  // namespace farsend::units

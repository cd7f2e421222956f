// What the spool needs of the file system that differs between Linux and
// Windows (units/posix/, units/win/): SpoolLock's lock, and one appended
// line that is on the disk before the call returns.
#pragma once

#include <filesystem>
#include <string>

namespace farsend::units {

// Appends `line` in one write, so that processes sharing the spool do not
// interleave their lines, and syncs it to the disk. False with `error` set
// when it fails.
bool AppendAndSync(const std::filesystem::path& spool, const std::string& line, std::string& error);

}  // namespace farsend::units

// Files this program writes for others to read (reports, flash files, logs),
// created rw-r--r-- whatever the umask lets through: under `umask 000` a
// record anyone may write is a record anyone may falsify. A stricter umask
// still has its way.
#pragma once

#include <cstdio>
#include <string>

namespace farsend {

// As std::fopen(path, mode) for "wb" or "ab" (with "+" allowed), the file
// made with those permissions when it is new. nullptr with errno set.
std::FILE* OpenRecordFile(const std::string& path, const char* mode);

}  // namespace farsend

#include "common/record_file.h"

namespace farsend {

// Windows files carry access lists, not modes; a new file inherits its
// folder's.
std::FILE* OpenRecordFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

}  // namespace farsend

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/record_file.h"

namespace farsend {

std::FILE* OpenRecordFile(const std::string& path, const char* mode) {
    const bool append = mode[0] == 'a';
    const bool update = std::strchr(mode, '+') != nullptr;
    const int flags =
        (update ? O_RDWR : O_WRONLY) | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, mode);
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

}  // namespace farsend

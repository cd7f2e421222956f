// The spool's lock and synced appends with flock and fdatasync.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "units/folders.h"
#include "units/spool.h"
#include "units/spool_file.h"

namespace farsend::units {

SpoolLock::SpoolLock(const std::filesystem::path& spool) {
    std::error_code folderError;
    if (spool.has_parent_path()) CreateFolders(spool.parent_path(), folderError);
    const std::string path = spool.string() + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error_ = "cannot open the spool's lock " + path + ": " + std::strerror(errno);
        return;
    }
    int locked = 0;
    do {
        locked = ::flock(fd, LOCK_EX);
    } while (locked < 0 && errno == EINTR);
    if (locked < 0) {
        error_ = "cannot lock the spool " + spool.string() + ": " + std::strerror(errno);
        ::close(fd);
        return;
    }
    handle_ = fd;
}

SpoolLock::~SpoolLock() {
    if (handle_ != -1) ::close(static_cast<int>(handle_));  // closing lets the lock go
}

bool AppendAndSync(const std::filesystem::path& spool, const std::string& line,
                   std::string& error) {
    const int fd = ::open(spool.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open the spool " + spool.string() + ": " + std::strerror(errno);
        return false;
    }
    ssize_t written = 0;
    do {
        written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    int writeErrno = errno;
    const bool whole = written == static_cast<ssize_t>(line.size());
    const bool synced = whole && ::fdatasync(fd) == 0;
    if (whole && !synced) writeErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!whole || !synced || !closed) {
        error = "cannot write the spool " + spool.string() + ": " +
                std::strerror(!whole && written >= 0 ? ENOSPC : writeErrno);
        return false;
    }
    return true;
}

}  // namespace farsend::units

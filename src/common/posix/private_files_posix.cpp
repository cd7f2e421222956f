// On POSIX systems a new file gets its mode at creation (O_EXCL: never an
// existing one), and a private folder is mkdtemp's, mode 0700.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/printable_text.h"
#include "common/private_files.h"

namespace farsend {

bool WriteNewFile(const std::string& path, const std::string& text, bool ownerOnly,
                  std::string& error) {
    const mode_t mode = ownerOnly ? 0600 : 0644;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        error = "cannot create " + PrintableText(path) + ": " + std::strerror(errno) +
                (errno == EEXIST ? " (it is never replaced)" : "");
        return false;
    }
    // The mode asked for, whatever the umask left of it.
    bool ok = ::fchmod(fd, mode) == 0;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        ok = written > 0;
        if (ok) done += static_cast<std::size_t>(written);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        error = "cannot write " + PrintableText(path) + ": " + std::strerror(errno);
        ::unlink(path.c_str());
    }
    return ok;
}

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

std::optional<std::filesystem::path> MakePrivateFolder(std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/farsend-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "no folder can be made in $TMPDIR or /tmp: " + std::string(std::strerror(errno));
        return std::nullopt;
    }
    return std::filesystem::path(pattern);
}

}  // namespace farsend

#include "units/spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "common/database_name.h"
#include "units/folders.h"
#include "units/record/unit_json.h"

namespace farsend::units {

std::filesystem::path SpoolLocationFor(const std::string& location,
                                       const char* (*getenv)(const char*)) {
    const DatabaseNameResult parsed = ParseDatabaseName(location);
    const bool url = parsed.name && parsed.name->engine == DatabaseEngine::PostgreSQL;
    if (!url) return std::filesystem::path(location + ".spool");
    const std::string home = DefaultDatabaseLocation(getenv);
    if (home.empty()) return {};
    // FNV-1a: a name that stays the same from one run and build to the next,
    // which std::hash does not promise.
    std::uint64_t digest = 14695981039346656037ull;
    // Of the URL with its password masked: the name shows nothing of it, and
    // stays the same when only the password changes.
    for (const unsigned char byte : MaskedDatabaseName(parsed.name->location)) {
        digest ^= byte;
        digest *= 1099511628211ull;
    }
    char name[40];
    std::snprintf(name, sizeof name, "spool-%016llx.jsonl",
                  static_cast<unsigned long long>(digest));
    return std::filesystem::path(home).parent_path() / name;
}

std::string NewRecordId() {
    static thread_local std::random_device entropy;
    static const char kDigits[] = "0123456789abcdef";
    std::string id;
    for (int word = 0; word < 4; ++word) {
        std::uint32_t bits = entropy();
        for (int digit = 0; digit < 8; ++digit, bits >>= 4) id += kDigits[bits & 0xf];
    }
    return id;
}

std::string SpoolLine(const UnitRow& row) {
    return UnitJsonLine(row, UnitJsonForm::Spool);
}

std::optional<UnitRow> ParseSpoolLine(const std::string& line) {
    return ParseUnitJsonLine(line, UnitJsonForm::Spool);
}

SpoolLock::SpoolLock(const std::filesystem::path& spool) {
    std::error_code folderError;
    if (spool.has_parent_path()) CreateFolders(spool.parent_path(), folderError);
    const std::string path = spool.string() + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = "cannot open the spool's lock " + path + ": " + std::strerror(errno);
        return;
    }
    int locked = 0;
    do {
        locked = ::flock(fd_, LOCK_EX);
    } while (locked < 0 && errno == EINTR);
    if (locked < 0) {
        error_ = "cannot lock the spool " + spool.string() + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
    }
}

SpoolLock::~SpoolLock() {
    if (fd_ >= 0) ::close(fd_);  // closing lets the lock go
}

bool AppendToSpool(const std::filesystem::path& spool, const UnitRow& row, std::string& error) {
    const SpoolLock lock(spool);
    if (!lock.Held()) {
        error = lock.error();
        return false;
    }
    const int fd = ::open(spool.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open the spool " + spool.string() + ": " + std::strerror(errno);
        return false;
    }
    const std::string line = SpoolLine(row) + "\n";
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

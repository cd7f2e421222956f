// The spool's lock and synced appends on Windows: LockFileEx on the lock
// file, and FlushFileBuffers, which is what puts the line on the disk.
#include "units/folders.h"
#include "units/spool.h"
#include "units/spool_file.h"

// After the database's headers: <windows.h> defines a macro named Yield.
#include <windows.h>

#include "common/win/system_message.h"

namespace farsend::units {
namespace {

// Shared for reading, writing and deleting: other stations open the same
// files while this one holds them, and a replay removes the spool.
HANDLE OpenShared(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

SpoolLock::SpoolLock(const std::filesystem::path& spool) {
    std::error_code folderError;
    if (spool.has_parent_path()) CreateFolders(spool.parent_path(), folderError);
    std::filesystem::path path = spool;
    path += ".lock";
    const HANDLE file = OpenShared(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        error_ =
            "cannot open the spool's lock " + path.string() + ": " + SystemMessage(GetLastError());
        return;
    }
    // The first byte, exclusively, waiting for whoever holds it.
    OVERLAPPED at = {};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
        error_ = "cannot lock the spool " + spool.string() + ": " + SystemMessage(GetLastError());
        CloseHandle(file);
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
}

SpoolLock::~SpoolLock() {
    if (handle_ == -1) return;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    OVERLAPPED at = {};
    UnlockFileEx(file, 0, 1, 0, &at);
    CloseHandle(file);
}

bool AppendAndSync(const std::filesystem::path& spool, const std::string& line,
                   std::string& error) {
    const HANDLE file = OpenShared(spool, FILE_APPEND_DATA, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot open the spool " + spool.string() + ": " + SystemMessage(GetLastError());
        return false;
    }
    DWORD written = 0;
    const bool whole =
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
        written == line.size();
    DWORD failure = whole ? ERROR_SUCCESS : GetLastError();
    if (!whole && failure == ERROR_SUCCESS) failure = ERROR_DISK_FULL;
    const bool synced = whole && FlushFileBuffers(file);
    if (whole && !synced) failure = GetLastError();
    const bool closed = CloseHandle(file);
    if (!closed && failure == ERROR_SUCCESS) failure = GetLastError();
    if (!whole || !synced || !closed) {
        error = "cannot write the spool " + spool.string() + ": " + SystemMessage(failure);
        return false;
    }
    return true;
}

}  // namespace farsend::units

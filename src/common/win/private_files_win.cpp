// On Windows a private file or folder is created with a protected access
// list that lets in the user who runs farsend alone: it never inherits a
// folder's wider access, even for a moment.
#include <windows.h>
// After <windows.h>, which they use.
#include <sddl.h>

#include <memory>

#include "common/printable_text.h"
#include "common/private_files.h"
#include "common/win/system_message.h"

namespace farsend {
namespace {

struct LocalDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalDeleter>;

// "D:P(A;OICI;FA;;;<this user>)": full access for this user, inherited by
// what a folder holds, and nothing taken from the folder above.
LocalMemory OwnerOnlyDescriptor(DWORD& failure) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        failure = GetLastError();
        return nullptr;
    }
    alignas(TOKEN_USER) unsigned char buffer[256];
    DWORD size = 0;
    const bool known = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) != 0;
    failure = GetLastError();
    CloseHandle(token);
    if (!known) return nullptr;
    wchar_t* sid = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        failure = GetLastError();
        return nullptr;
    }
    const std::wstring text = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        failure = GetLastError();
        return nullptr;
    }
    return LocalMemory(descriptor);
}

}  // namespace

bool WriteNewFile(const std::string& path, const std::string& text, bool ownerOnly,
                  std::string& error) {
    DWORD failure = 0;
    LocalMemory descriptor;
    if (ownerOnly) {
        descriptor = OwnerOnlyDescriptor(failure);
        if (!descriptor) {
            error = "cannot create " + PrintableText(path) + ": " + SystemMessage(failure);
            return false;
        }
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    const std::filesystem::path name(path);
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, ownerOnly ? &attributes : nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failure = GetLastError();
        error = "cannot create " + PrintableText(path) + ": " + SystemMessage(failure) +
                (failure == ERROR_FILE_EXISTS ? " (it is never replaced)" : "");
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        DWORD written = 0;
        ok = WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                       nullptr) != 0 &&
             written > 0;
        done += written;
    }
    ok = FlushFileBuffers(file) != 0 && ok;
    if (!ok) failure = GetLastError();
    ok = CloseHandle(file) != 0 && ok;
    if (!ok) {
        error = "cannot write " + PrintableText(path) + ": " + SystemMessage(failure);
        DeleteFileW(name.c_str());
    }
    return ok;
}

void RemoveFile(const std::string& path) { DeleteFileW(std::filesystem::path(path).c_str()); }

std::optional<std::filesystem::path> MakePrivateFolder(std::string& error) {
    DWORD failure = 0;
    const LocalMemory descriptor = OwnerOnlyDescriptor(failure);
    wchar_t temp[MAX_PATH + 1] = {};
    if (!descriptor || GetTempPathW(MAX_PATH + 1, temp) == 0) {
        if (descriptor) failure = GetLastError();
        error = "no private folder can be made: " + SystemMessage(failure);
        return std::nullopt;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    // A name nobody else has taken: another process's folder is never reused.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path folder =
            std::filesystem::path(temp) / ("farsend-" + std::to_string(GetCurrentProcessId()) +
                                           "-" + std::to_string(GetTickCount64()) + "-" +
                                           std::to_string(attempt));
        if (CreateDirectoryW(folder.c_str(), &attributes)) return folder;
        failure = GetLastError();
        if (failure != ERROR_ALREADY_EXISTS) break;
    }
    error = "no private folder can be made in " + std::filesystem::path(temp).string() + ": " +
            SystemMessage(failure);
    return std::nullopt;
}

}  // namespace farsend

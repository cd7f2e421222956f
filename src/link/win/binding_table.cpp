#include "link/win/binding_table.h"

namespace farsend::link {

std::string SystemLibraryPath(const char* fileName) {
    char directory[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::string path(directory, length);
    if (path.back() != '\\') path += '\\';
    return path + fileName;
}

HMODULE LoadSystemLibrary(const char* fileName) {
    const std::string path = SystemLibraryPath(fileName);
    if (path.empty()) return nullptr;
    // With a full path and LOAD_WITH_ALTERED_SEARCH_PATH, the library's own
    // imports are looked up beside it in the system directory as well.
    return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace farsend::link

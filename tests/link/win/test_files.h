// Where the Windows backend tests find their helper libraries: beside the
// test program itself.
#pragma once

#include <windows.h>

#include <string>

namespace farsend::link::testing {

inline std::string TestProgramDirectory() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length < MAX_PATH ? length : 0);
    const size_t slash = directory.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : directory.substr(0, slash);
}

inline std::string TestLibraryPath(const char* variant) {
    return TestProgramDirectory() + "\\farsend_version_" + variant + ".dll";
}

}  // namespace farsend::link::testing

#include "link/win/os_class.h"

#include <windows.h>

namespace farsend::link {

int16_t ClassifyOsVersion(const OsVersionRecord* record) {
    if (record == nullptr) return 0;
    const uint32_t major = record->majorVersion;
    const uint32_t minor = record->minorVersion;
    if (record->platformId == kPlatform9x && major == 4) {
        if (minor == 0) return 0;
        if (minor == 10) {
            const char* pack = record->servicePack != nullptr ? record->servicePack : "";
            // The second character is read only when the text has one.
            return (pack[0] != '\0' && pack[1] == 'A') ? 3 : 2;
        }
        if (minor == 90) return 4;
        return 6;
    }
    if (record->platformId == kPlatformNt) {
        if (major <= 4) return 1;
        if (major == 5 && minor == 0) return 5;
    }
    return 6;
}

int16_t GetOsClass() {
    // The extended record first; systems before NT 4 SP6 know only the
    // basic one.
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    OSVERSIONINFOA* info = reinterpret_cast<OSVERSIONINFOA*>(&extended);
    if (!::GetVersionExA(info)) {
        extended = OSVERSIONINFOEXA{};
        extended.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!::GetVersionExA(info)) return ClassifyOsVersion(nullptr);
    }
    extended.szCSDVersion[sizeof extended.szCSDVersion - 1] = '\0';
    const OsVersionRecord record{extended.dwPlatformId, extended.dwMajorVersion,
                                 extended.dwMinorVersion, extended.szCSDVersion};
    return ClassifyOsVersion(&record);
}

}  // namespace farsend::link

// Which Windows the program runs on, as one small number. Only "5 or more"
// matters to the link: from Windows 2000 on, every open restarts the bridge
// before searching for it.
//
//   0  version query failed, or Windows 95 (9x platform, 4.0)
//   1  NT platform, major version 4 or lower
//   2  Windows 98 (9x, 4.10, service-pack text without "A" as its 2nd char)
//   3  Windows 98 Second Edition (9x, 4.10, "A" as 2nd char, e.g. " A ")
//   4  Windows Me (9x, 4.90)
//   5  Windows 2000 (NT 5.0)
//   6  anything else: NT 5.1 and later, other 9x versions, other platforms
#pragma once

#include <cstdint>

namespace farsend::link {

// The fields of the system's version record that the classification reads.
struct OsVersionRecord {
    uint32_t platformId = 0;  // 1: 9x platform, 2: NT platform
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    const char* servicePack = "";  // the service-pack text ("" when none)
};

constexpr uint32_t kPlatform9x = 1;
constexpr uint32_t kPlatformNt = 2;

// The class of a version record; a null record means the query failed.
int16_t ClassifyOsVersion(const OsVersionRecord* record);

// The class of the running system.
int16_t GetOsClass();

}  // namespace farsend::link

#include "common/host_name.h"

#if defined(_WIN32)
#include <cstdlib>
#else
#include <unistd.h>

#include <climits>
#endif

namespace farsend {

std::string ThisHostName() {
#if defined(_WIN32)
    // Windows sets it for every process; asking the system would take
    // <windows.h> or Winsock into a layer that uses neither.
    const char* name = std::getenv("COMPUTERNAME");
    return name != nullptr ? name : "";
#else
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
#endif
}

}  // namespace farsend

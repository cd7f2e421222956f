// The default unit database on Windows: in the user's local application
// data, which stays on this PC (a roaming profile would carry a live
// database between machines).
#include <cstdlib>

#include "units/unit_database.h"

namespace farsend::units {

std::string DefaultDatabaseLocation(const char* (*getenv)(const char*)) {
    const char* value = getenv != nullptr ? getenv("LOCALAPPDATA") : std::getenv("LOCALAPPDATA");
    const std::string data = value != nullptr ? value : "";
    // A relative folder would move with the working directory.
    const bool absolute = data.size() >= 3 && data[1] == ':' && (data[2] == '\\' || data[2] == '/');
    const bool network = data.rfind("\\\\", 0) == 0;
    if (!absolute && !network) return "";
    return data + "\\farsend\\units.sqlite";
}

const char* NoDefaultDatabaseReason() {
    return "LOCALAPPDATA is not set";
}

}  // namespace farsend::units

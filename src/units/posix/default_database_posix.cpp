// The default unit database on Linux: in the user's XDG data home.
#include <cstdlib>

#include "units/unit_database.h"

namespace farsend::units {

std::string DefaultDatabaseLocation(const char* (*getenv)(const char*)) {
    auto lookup = [getenv](const char* name) -> std::string {
        const char* value = getenv != nullptr ? getenv(name) : std::getenv(name);
        return value != nullptr ? value : "";
    };
    // A relative XDG_DATA_HOME counts as unset, as XDG has it.
    std::string data = lookup("XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') {
        const std::string home = lookup("HOME");
        if (home.empty()) return "";
        data = home + "/.local/share";
    }
    return data + "/farsend/units.sqlite";
}

const char* NoDefaultDatabaseReason() {
    return "neither XDG_DATA_HOME nor HOME is set";
}

}  // namespace farsend::units

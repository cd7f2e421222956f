// Which device a restart goes to. The restart is for the bridge about to be
// opened; with several bridges of the same identifiers on one system, any
// other choice could stop a bridge that another link is using in the middle
// of its run. Kept apart from the Windows backend so that the rule can be
// checked on every system.
#pragma once

#include <string>
#include <vector>

namespace farsend::link {

struct RestartChoice {
    // True: the first device whose identifier contains the pattern (the
    // search of a link that opens whichever bridge it finds first).
    bool firstMatch = true;
    // Otherwise: the instance identifiers of the interface being opened and
    // of its ancestors, nearest first; the restart goes to the one that
    // carries the pattern (the bridge's USB device). Empty when the
    // interface could not be found: then no device is restarted.
    std::vector<std::string> lineage;
};

// Whether the present device `deviceId` is the one to restart. The pattern
// is looked for case-sensitively, as the restart always has; identifiers
// are compared with one another without regard to case, as the system does.
bool IsDeviceToRestart(const std::string& deviceId, const std::string& pattern,
                       const RestartChoice& choice);

}  // namespace farsend::link

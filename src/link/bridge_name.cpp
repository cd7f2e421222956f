#include "link/bridge_name.h"

namespace farsend::link {

bool BridgeAnswersTo(const std::string& name, const std::string& path,
                     const HidIdentity& identity) {
    return name == path || (!identity.location.empty() && identity.location == name) ||
           (!identity.serial.empty() && identity.serial == name);
}

std::string BridgeDefaultName(const std::string& path, const HidIdentity& identity) {
    return identity.location.empty() ? path : identity.location;
}

}  // namespace farsend::link

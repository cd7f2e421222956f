#include <cstdio>

#include "cli/bridge_advice.h"
#include "link/bridge_ids.h"

namespace farsend::cli {

std::string NoBridgeAdvice() {
    char id[48];
    std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X",
                  static_cast<unsigned>(link::kBridgeVendorId),
                  static_cast<unsigned>(link::kBridgeProductId));
    return "no bridge found (" + BridgeIdText() +
           ").\nPlug the bridge in and check that Device Manager lists it under Human Interface "
           "Devices (hardware id " +
           id + "); --simulate runs without hardware.\n";
}

}  // namespace farsend::cli

#include <cstdio>

#include "cli/bridge_advice.h"
#include "link/bridge_ids.h"

namespace farsend::cli {

std::string BridgeIdText() {
    char text[64];
    std::snprintf(text, sizeof text, "USB vendor 0x%04x, product 0x%04x",
                  static_cast<unsigned>(link::kBridgeVendorId),
                  static_cast<unsigned>(link::kBridgeProductId));
    return text;
}

}  // namespace farsend::cli

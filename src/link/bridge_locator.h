// Where a link finds its bridge when it opens. A link without a locator
// searches: it takes the first interface with the bridge's identifiers. A
// link with one opens exactly the interface the locator names at that open,
// so that several links on one system each keep to their own bridge.
#pragma once

#include <string>

#include "link/hid_platform.h"

namespace farsend::link {

class BridgeLocator {
public:
    virtual ~BridgeLocator() = default;

    // The device path to open now; "" when the bridge is not present (the
    // open then fails with -4 and touches no device). Called on the thread
    // that opens the link, once per open.
    virtual std::string PathToOpen(HidPlatform& platform) = 0;
};

}  // namespace farsend::link

#include <cstdio>

#include "cli/bridge_advice.h"
#include "link/bridge_ids.h"
#include "link/posix/hid_platform_hidraw.h"

namespace farsend::cli {

std::string NoBridgeAdvice() {
    const link::BridgeAccessReport access =
        link::ProbeBridgeAccess(link::kBridgeVendorId, link::kBridgeProductId);
    char lsusb[32];
    std::snprintf(lsusb, sizeof lsusb, "%04x:%04x", static_cast<unsigned>(link::kBridgeVendorId),
                  static_cast<unsigned>(link::kBridgeProductId));
    switch (access.access) {
        case link::BridgeAccess::kAbsent:
            return "no bridge found (" + BridgeIdText() +
                   ").\nPlug the bridge in and check that `lsusb -d " + lsusb +
                   "` lists it; --simulate runs without hardware.\n";
        case link::BridgeAccess::kDenied:
            return link::DescribeBridgeAccess(access) + ": the bridge (" + BridgeIdText() +
                   ") is plugged in, but this user may not open it.\n"
                   "Install the udev rule, then plug the bridge in again:\n"
                   "  sudo cp packaging/udev/70-farsend.rules /etc/udev/rules.d/\n"
                   "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
                   "(docs/hardware.md, \"Linux: access to the bridge\").\n";
        case link::BridgeAccess::kAccessible:
            return "the bridge " + access.path + " (" + BridgeIdText() +
                   ") is there but could not be used: it may be busy in another program, or "
                   "its reports do not fit. Unplug it and plug it in again.\n";
        case link::BridgeAccess::kFailed:
            break;
    }
    return link::DescribeBridgeAccess(access) + ": the bridge (" + BridgeIdText() +
           ") is plugged in but could not be opened. Unplug it and plug it in again.\n";
}

}  // namespace farsend::cli

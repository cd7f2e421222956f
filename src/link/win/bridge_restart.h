// Restarting the bridge through the device-setup system: a present HID
// device whose instance identifier contains "USB\VID_vvvv&PID_pppp" gets a
// property change, which makes the system stop and start it again. This
// clears a bridge left in a bad state by an earlier run. Which of several
// such devices is the one is link/restart_choice.h's rule.
#pragma once

#include <cstdint>
#include <string>

#include "link/restart_choice.h"

namespace farsend::link {

// The hardware-identifier pattern, lower-case hexadecimal digits:
// "USB\VID_1209&PID_0001".
std::string BridgeHardwarePattern(uint16_t vendorId, uint16_t productId);

// -4: setupapi.dll cannot be loaded; 0: cfgmgr32.dll cannot be loaded;
// 1: otherwise, whether or not a device was found and restarted.
int RestartBridgeDevice(uint16_t vendorId, uint16_t productId, const RestartChoice& choice);

}  // namespace farsend::link

// The USB identifiers of the HID-to-UART bridge that carries the target's
// serial line. Change them for another bridge with the CMake options
// FARSEND_BRIDGE_VENDOR_ID and FARSEND_BRIDGE_PRODUCT_ID.
#pragma once

#include <cstdint>

#ifndef FARSEND_BRIDGE_VENDOR_ID
#define FARSEND_BRIDGE_VENDOR_ID 0x1209
#endif
#ifndef FARSEND_BRIDGE_PRODUCT_ID
#define FARSEND_BRIDGE_PRODUCT_ID 0x0001
#endif

namespace farsend::link {

constexpr uint16_t kBridgeVendorId = FARSEND_BRIDGE_VENDOR_ID;
constexpr uint16_t kBridgeProductId = FARSEND_BRIDGE_PRODUCT_ID;

}  // namespace farsend::link

// What a firmware image is for, as the operator asks for it and as its file
// name says: radio variant, hardware version and image kind.
#pragma once

#include <cstdint>

namespace farsend::firmware {

// Fixed 32-bit representations: these values cross threads as atomics and
// any other stored value must stay representable (the filters accept none).
enum class DeviceType : int32_t {
    Any = 0,
    Bluetooth = 1,
    ZigBee = 2,
};

enum class HardwareVersion : int32_t {
    Any = 0,
    V1_0 = 1,  // "1.0"
    V1_5 = 2,  // "1.5"
    V2_0 = 3,  // "2.0"
};

enum class FlashMode : int32_t {
    Application = 0,               // the application alone
    BootloaderAndApplication = 1,  // a factory image
};

}  // namespace farsend::firmware

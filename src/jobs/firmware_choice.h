// What every station of a run programs: the firmware file or the rule that
// picks it, the flash mode and whether a target is checked first. The GUI's
// one station and each of the command line's stations read the same record;
// only the user-interface thread writes it.
#pragma once

#include <atomic>

#include "common/shared_text.h"
#include "firmware/device_kinds.h"
#include "firmware/firmware_selection.h"

namespace farsend::jobs {

using firmware::DeviceType;
using firmware::FlashMode;
using firmware::HardwareVersion;

struct FirmwareChoice {
    // Paths in 8-bit form (the ANSI code page on Windows).
    SharedText workingDirectory;
    SharedText firmwareDirectory;
    SharedText firmwarePath;  // the file a programming run uses; empty: none chosen
    SharedText commandLineFile;
    SharedText commandLineDirectory;

    // What the operator asks for; filters of the auto-selection.
    std::atomic<DeviceType> deviceType{DeviceType::Any};
    std::atomic<HardwareVersion> hardwareVersion{HardwareVersion::Any};

    // What the start-up scan of the firmware directory found.
    std::atomic<bool> bluetoothAvailable{false};
    std::atomic<bool> zigbeeAvailable{false};
    std::atomic<bool> version10Available{false};
    std::atomic<bool> version15Available{false};
    std::atomic<bool> version20Available{false};

    std::atomic<FlashMode> flashMode{FlashMode::Application};
    std::atomic<bool> autoSelect{false};
    std::atomic<bool> validateDevice{true};

    // What the firmware selection reads: the firmware directory and the
    // command-line file, taken together.
    firmware::FirmwareSearch Search() const {
        return {firmwareDirectory.Get(), commandLineFile.Get()};
    }
};

// The variant and hardware version taken when none is asked for, after what
// the firmware directory offers: Bluetooth before ZigBee; 1.5, then 2.0, then
// 1.0. The start-up and the auto-selection's dialog both go by this.
inline DeviceType PreferredDeviceType(const FirmwareChoice& choice) {
    if (choice.bluetoothAvailable.load()) return DeviceType::Bluetooth;
    if (choice.zigbeeAvailable.load()) return DeviceType::ZigBee;
    return DeviceType::Any;
}

inline HardwareVersion PreferredHardwareVersion(const FirmwareChoice& choice) {
    if (choice.version15Available.load()) return HardwareVersion::V1_5;
    if (choice.version20Available.load()) return HardwareVersion::V2_0;
    if (choice.version10Available.load()) return HardwareVersion::V1_0;
    return HardwareVersion::Any;
}

}  // namespace farsend::jobs

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

}  // namespace farsend::jobs

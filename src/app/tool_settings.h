// The one record of settings and run-time state that the user-interface
// thread, the connection monitor and the job threads share. Flags and states
// are atomics; texts are copied whole under a lock, so a reader never sees a
// path half rewritten.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "firmware/device_kinds.h"
#include "firmware/firmware_selection.h"

namespace farsend::app {

using firmware::DeviceType;
using firmware::FlashMode;
using firmware::HardwareVersion;

enum class ConnectionState : int32_t {
    NeverConnected = 0,
    Disconnected = 1,
    Connected = 2,
};

// Values of ToolSettings::programRequest. "No request" is 4, not 0.
constexpr int32_t kProgramRequested = 1;
constexpr int32_t kNoProgramRequest = 4;

// A text that one thread writes and others read.
class SharedText {
public:
    std::string Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    void Set(std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ = std::move(text);
    }
    bool Empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_.empty();
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

class MainWindowView;

struct ToolSettings {
    // Paths in 8-bit form (the ANSI code page on Windows). Written by the
    // user-interface thread only.
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
    std::atomic<bool> autoProgram{false};
    std::atomic<bool> exitAfterProgram{false};
    std::atomic<int32_t> comPort{1};
    std::atomic<int32_t> serialSpeed{115200};

    // Run-time state.
    std::atomic<ConnectionState> connectionState{ConnectionState::NeverConnected};
    std::atomic<int32_t> programRequest{kNoProgramRequest};
    std::atomic<bool> monitorRunning{false};
    std::atomic<bool> programmingBusy{false};
    std::atomic<bool> erasingBusy{false};

    // The main window, once the shell has created it (null before). The shell
    // keeps it alive until every thread that refreshes texts has ended.
    std::atomic<MainWindowView*> view{nullptr};

    // What the firmware selection reads: the firmware directory and the
    // command-line file, taken together.
    firmware::FirmwareSearch Search() const {
        return {firmwareDirectory.Get(), commandLineFile.Get()};
    }
};

}  // namespace farsend::app

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

// Who talks to the target beyond the monitor's handshake. The monitor's
// programming attempt (its checking queries, the job it starts, its pause
// and disconnect) and a command the operator gives (erase, launch) would
// otherwise interleave their packets on the one link while the window still
// shows the target as connected.
enum class LinkUser : int32_t { None, Monitor, Operator };

// Holds the link for one user for as long as it lives; Held() is false when
// another user had it already, and then nothing is released at the end.
class LinkClaim {
public:
    LinkClaim(std::atomic<LinkUser>& holder, LinkUser user) : holder_(holder) {
        LinkUser none = LinkUser::None;
        held_ = holder_.compare_exchange_strong(none, user);
    }
    ~LinkClaim() {
        if (held_) holder_.store(LinkUser::None);
    }
    LinkClaim(const LinkClaim&) = delete;
    LinkClaim& operator=(const LinkClaim&) = delete;

    bool Held() const { return held_; }

private:
    std::atomic<LinkUser>& holder_;
    bool held_ = false;
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
    std::atomic<LinkUser> linkUser{LinkUser::None};
    // The file the monitor's current attempt checked against the target;
    // empty outside an attempt. The job it starts programs this file, not
    // one the operator chose while the checking queries ran.
    SharedText attemptPath;

    // The main window, once the shell has created it (null before). The shell
    // keeps it alive until every thread that refreshes texts has ended.
    std::atomic<MainWindowView*> view{nullptr};

    // The file a programming job opened now must program.
    std::string PathToProgram() const {
        std::string checked = attemptPath.Get();
        return checked.empty() ? firmwarePath.Get() : checked;
    }

    // What the firmware selection reads: the firmware directory and the
    // command-line file, taken together.
    firmware::FirmwareSearch Search() const {
        return {firmwareDirectory.Get(), commandLineFile.Get()};
    }
};

}  // namespace farsend::app

// The window program's settings: what it programs, the state of its one
// station, and what only the window has (the port dialog's values, ending
// after a run, the view).
#pragma once

#include <atomic>
#include <cstdint>

#include "jobs/firmware_choice.h"
#include "jobs/station_state.h"

namespace farsend::app {

using firmware::DeviceType;
using firmware::FlashMode;
using firmware::HardwareVersion;

using jobs::ConnectionState;
using jobs::LinkClaim;
using jobs::LinkUser;
using jobs::ProgramRequest;

class MainWindowView;

// The window program's one station: the firmware choice, the state of its
// one bridge, and what only the window has.
struct ToolSettings : jobs::FirmwareChoice, jobs::StationState {
    std::atomic<bool> exitAfterProgram{false};
    std::atomic<int32_t> comPort{1};
    std::atomic<int32_t> serialSpeed{115200};

    // The main window, once the shell has created it (null before). The shell
    // keeps it alive until every thread that refreshes texts has ended.
    std::atomic<MainWindowView*> view{nullptr};
};

}  // namespace farsend::app

// One station above its link: the connection monitor, the commands of its
// main window and what its jobs run with, wired in one place for the window
// program's single station and for each of farsend's. The link, its
// platform and the simulator stay with the entry points, which alone know
// what the bridge is and in which order it must be torn down.
#pragma once

#include <atomic>

#include "app/commands.h"
#include "app/main_window_view.h"
#include "app/shell_port.h"
#include "common/clock.h"
#include "jobs/connection_monitor.h"
#include "jobs/firmware_choice.h"
#include "jobs/job_workers.h"
#include "jobs/main_window_port.h"
#include "jobs/station_events.h"
#include "jobs/station_state.h"
#include "protocol/exchange_context.h"

namespace farsend::app {

struct StationParts {
    jobs::FirmwareChoice& choice;  // shared by every station of a run
    jobs::StationState& state;     // this station's own
    protocol::ExchangeContext& exchanges;
    jobs::MainWindowPort& mainWindow;
    ShellPort& shell;
    // Told the station's events; null: the main window shows the refusals.
    jobs::StationObserver* observer = nullptr;
    // The monitor's pauses; null: the link's clock.
    Clock* pacing = nullptr;
    // The window whose status bar follows the station; null without one.
    const std::atomic<MainWindowView*>* view = nullptr;
};

class Station {
public:
    explicit Station(const StationParts& parts)
        : parts_(parts),
          monitor_(jobs::MonitorEnvironment{parts.choice, parts.state, parts.exchanges,
                                            parts.mainWindow, parts.pacing, parts.observer}),
          commands_{parts.choice, parts.state, parts.exchanges, parts.shell, monitor_, parts.view} {
    }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    jobs::ConnectionMonitorControl& Monitor() { return monitor_; }
    CommandContext& Commands() { return commands_; }
    jobs::StationState& State() { return parts_.state; }
    // What a job of this station runs with; a unit's serial and stop flag
    // are the caller's to add.
    jobs::JobEnvironment JobEnvironment() const {
        return jobs::JobEnvironment{parts_.state, parts_.exchanges, parts_.mainWindow,
                                    parts_.observer};
    }

private:
    const StationParts parts_;
    jobs::ConnectionMonitorControl monitor_;
    CommandContext commands_;
};

}  // namespace farsend::app

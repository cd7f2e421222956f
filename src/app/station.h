// One station: a bridge's link with the exchanges over it, the connection
// monitor, what its jobs run with and, in the window program, the commands
// of its main window,
// built in one place for the window program's single station and for each
// of farsend's. It is made from where its bridge is (a platform, which of
// the platform's bridges, a clock) and the firmware choice every station of
// a run shares; everything else of it is its own.
//
// Whatever the platform belongs to (a simulated bridge, a locator) must
// outlive the station: the station stops its monitor and closes its link
// when it goes, and the link's reader reads from the platform until then.
#pragma once

#include <atomic>
#include <optional>

#include "app/commands.h"
#include "app/main_window_view.h"
#include "app/shell_port.h"
#include "common/clock.h"
#include "jobs/connection_monitor.h"
#include "jobs/firmware_choice.h"
#include "jobs/job_workers.h"
#include "jobs/station_events.h"
#include "jobs/station_host.h"
#include "jobs/station_state.h"
#include "link/bridge_locator.h"
#include "link/hid_platform.h"
#include "link/hid_serial_link.h"
#include "protocol/exchange_context.h"

namespace farsend::app {

// Where a station's link finds its bridge.
struct StationBridge {
    // The system's HID, or a simulated bridge; null: every open fails.
    link::HidPlatform* platform = nullptr;
    // Which of the platform's bridges, at each open; null: the first found.
    link::BridgeLocator* locator = nullptr;
    // The link's time; null: the real clock.
    Clock* clock = nullptr;
};

struct StationParts {
    StationBridge bridge;
    jobs::FirmwareChoice& choice;  // shared by every station of a run
    jobs::StationState& state;     // this station's own
    // Runs the programming job the monitor asks for.
    jobs::StationHost& host;
    // Shows the boxes and dialogs of the main window's commands; null: the
    // station has no main window, and no commands of one (farsend).
    ShellPort* shell = nullptr;
    // Told the station's events; null: nobody is.
    jobs::StationObserver* observer = nullptr;
    // The window whose status bar follows the station; null without one.
    const std::atomic<MainWindowView*>* view = nullptr;
    // Keeps a socket whose unit failed from being answered until its board
    // is out; null: every call is answered (the window program).
    jobs::SocketHold* hold = nullptr;
};

class Station {
public:
    explicit Station(const StationParts& parts)
        : parts_(parts),
          link_(parts.bridge),
          exchanges_(link_),
          monitor_(jobs::MonitorEnvironment{parts.choice, parts.state, exchanges_, parts.host,
                                            nullptr, parts.observer, parts.hold}) {
        if (parts.shell != nullptr) {
            commands_.emplace(CommandContext{parts.choice, parts.state, exchanges_, *parts.shell,
                                             monitor_, parts.view});
        }
    }
    // The monitor is stopped and joined before the link goes; the link
    // closes its handles while its platform is still there.
    ~Station() { monitor_.Stop(); }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    jobs::ConnectionMonitorControl& Monitor() { return monitor_; }
    // The main window's commands; only for a station with a shell.
    CommandContext& Commands() { return *commands_; }
    jobs::StationState& State() { return parts_.state; }
    protocol::ExchangeContext& Exchanges() { return exchanges_; }
    const protocol::ExchangeContext& Exchanges() const { return exchanges_; }
    link::HidSerialLink& Link() { return link_; }
    // The time the station's link lives in.
    Clock& Time() { return exchanges_.Time(); }
    // What a job of this station runs with; a unit's serial and stop flag
    // are the caller's to add.
    jobs::JobEnvironment JobEnvironment() {
        return jobs::JobEnvironment{parts_.state, exchanges_, parts_.observer};
    }

private:
    // A link whose seams are set once, before its first open.
    struct StationLink final : link::HidSerialLink {
        explicit StationLink(const StationBridge& bridge) {
            platform = bridge.platform;
            locator = bridge.locator;
            clock = bridge.clock;
        }
    };

    const StationParts parts_;
    StationLink link_;
    protocol::ExchangeContext exchanges_;
    jobs::ConnectionMonitorControl monitor_;
    std::optional<CommandContext> commands_;
};

}  // namespace farsend::app

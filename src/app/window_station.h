// The window program's side of its one station: the monitor's request for a
// job becomes command 610, a refusal the box the main window shows for it,
// and a change of connection the status bar's text.
#pragma once

#include "app/command_ids.h"
#include "app/main_window_port.h"
#include "jobs/connection_monitor.h"
#include "jobs/station_events.h"
#include "jobs/station_host.h"

namespace farsend::app {

// 610 through the main window, which opens the job's modal dialog and
// returns once it has closed.
class MainWindowHost final : public jobs::StationHost {
public:
    explicit MainWindowHost(MainWindowPort& mainWindow) : mainWindow_(mainWindow) {}
    void ProgramTarget() override { mainWindow_.SendCommand(kCommandProgramNow); }

private:
    MainWindowPort& mainWindow_;
};

class WindowStationObserver final : public jobs::StationObserver {
public:
    explicit WindowStationObserver(MainWindowPort& mainWindow) : mainWindow_(mainWindow) {}

    void OnStationEvent(const jobs::StationEvent& event) override {
        if (const auto* refused = std::get_if<jobs::events::Refused>(&event)) {
            mainWindow_.ShowMessage(jobs::RefusalMessage(refused->refusal));
        } else if (std::holds_alternative<jobs::events::Connected>(event) ||
                   std::holds_alternative<jobs::events::Disconnected>(event)) {
            mainWindow_.RefreshConnectionText();
        }
    }

private:
    MainWindowPort& mainWindow_;
};

}  // namespace farsend::app

// The window program's observer of its one station: a refusal becomes the
// box the main window shows for it. The rest of what a station does reaches
// the window through its commands and the job's dialog, as before events.
#pragma once

#include "jobs/connection_monitor.h"
#include "jobs/main_window_port.h"
#include "jobs/station_events.h"

namespace farsend::app {

class WindowRefusals final : public jobs::StationObserver {
public:
    explicit WindowRefusals(jobs::MainWindowPort& mainWindow) : mainWindow_(mainWindow) {}

    void OnStationEvent(const jobs::StationEvent& event) override {
        if (event.kind == jobs::StationEventKind::Refused) {
            mainWindow_.ShowMessage(jobs::RefusalMessage(event.refusal));
        }
    }

private:
    jobs::MainWindowPort& mainWindow_;
};

}  // namespace farsend::app

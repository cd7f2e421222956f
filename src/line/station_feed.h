// One station's events, as its tile on the line page shows them. The only
// place that knows both the station's events and the page's tile: a change
// to the events is met here.
#pragma once

#include <cstddef>

#include "jobs/station_events.h"
#include "line/line_state.h"

namespace farsend::line {

class StationFeed final : public jobs::StationObserver {
public:
    StationFeed(LineState& state, std::size_t station) : state_(state), station_(station) {}

    // On the thread that did the work (the monitor's, or the job's).
    void OnStationEvent(const jobs::StationEvent& event) override;

private:
    LineState& state_;
    const std::size_t station_;
    // The job in hand erased before its blocks: its first block then goes
    // on with the job rather than beginning it. On the station's thread.
    bool erased_ = false;
};

}  // namespace farsend::line

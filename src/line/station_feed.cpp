#include "line/station_feed.h"

#include <string>

namespace farsend::line {

void StationFeed::OnStationEvent(const jobs::StationEvent& event) {
    switch (event.kind) {
        case jobs::StationEventKind::Connected:
            // A new board: the last one's result, serial and reason go.
            state_.Change(station_, [](Tile& tile) {
                tile.state = TileState::Identifying;
                tile.erasing = false;
                tile.target.clear();
                tile.serial.clear();
                tile.reason.clear();
                tile.advice.clear();
                tile.held = false;
                tile.bytes = 0;
                tile.kilobytesPerSecond = 0;
            });
            return;
        case jobs::StationEventKind::Identified: {
            std::string target = event.variant;
            if (!event.version.empty()) target += (target.empty() ? "" : " ") + event.version;
            state_.Change(station_, [&](Tile& tile) { tile.target = target; });
            return;
        }
        case jobs::StationEventKind::EraseStep:
            if (event.blocksErased <= 1) {
                state_.JobBegun(station_, true);
            } else {
                state_.JobProgress(station_, 0, true);
            }
            return;
        case jobs::StationEventKind::BlockSent:
            // A programming job without an erase step begins with its
            // first block.
            if (event.blocksSent <= 1 && event.blocksErased == 0) state_.JobBegun(station_, false);
            state_.JobProgress(station_, event.bytesSent, false);
            return;
        case jobs::StationEventKind::BoardTakenOut:
            state_.Change(station_, [](Tile& tile) {
                tile.state = TileState::Waiting;
                tile.held = false;
                tile.advice.clear();
            });
            return;
        case jobs::StationEventKind::Searching:
        case jobs::StationEventKind::Refused:
        case jobs::StationEventKind::Finished:
        case jobs::StationEventKind::Disconnected:
            // The unit's verdict comes from the run, which knows its
            // serial number and the reason in words (LineState::UnitDone);
            // a result stays on the tile until the next board.
            return;
    }
}

}  // namespace farsend::line

#include "line/station_feed.h"

#include <string>
#include <variant>

namespace farsend::line {

void StationFeed::OnStationEvent(const jobs::StationEvent& event) {
    namespace events = jobs::events;
    if (std::holds_alternative<events::Connected>(event)) {
        // A new board: the last one's result, serial and reason go.
        erased_ = false;
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
    } else if (const auto* identified = std::get_if<events::Identified>(&event)) {
        std::string target = identified->variant;
        if (!identified->version.empty()) {
            target += (target.empty() ? "" : " ") + identified->version;
        }
        state_.Change(station_, [&](Tile& tile) { tile.target = target; });
    } else if (std::holds_alternative<events::JobStarted>(event)) {
        erased_ = false;
    } else if (std::holds_alternative<events::EraseStep>(event)) {
        if (!erased_) {
            state_.JobBegun(station_, true);
        } else {
            state_.JobProgress(station_, 0, true);
        }
        erased_ = true;
    } else if (const auto* block = std::get_if<events::BlockSent>(&event)) {
        // A programming job without an erase step begins with its first
        // block.
        if (block->blocksSent <= 1 && !erased_) state_.JobBegun(station_, false);
        state_.JobProgress(station_, block->bytesSent, false);
    } else if (std::holds_alternative<events::BoardTakenOut>(event)) {
        state_.Change(station_, [](Tile& tile) {
            tile.state = TileState::Waiting;
            tile.held = false;
            tile.advice.clear();
        });
    }
    // The rest: the unit's verdict comes from the run, which knows its
    // serial number and the reason in words (LineState::UnitDone); a result
    // stays on the tile until the next board.
}

}  // namespace farsend::line

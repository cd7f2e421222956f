// A station's events, fed through its StationFeed into the line's state,
// as the page's tile shows them.
#include "line/station_feed.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "support/virtual_clock.h"

namespace farsend::line {
namespace {

using jobs::StationEvent;
namespace events = jobs::events;

StationEvent Erased(std::uint32_t blocks) {
    events::EraseStep step;
    step.blocksErased = blocks;
    return step;
}

StationEvent Sent(std::uint32_t blocks, std::uint64_t bytes) {
    events::BlockSent sent;
    sent.blocksSent = blocks;
    sent.bytesSent = bytes;
    return sent;
}

struct FeedCase {
    const char* name;
    std::vector<StationEvent> events;
    std::optional<UnitEnd> end;  // the run's verdict, after the events
    TileState state;
    bool held;
    int passed;
    int failed;
};

TEST(StationFeedTest, EventsAndVerdictsGiveTheTile) {
    UnitEnd pass;
    pass.passed = true;
    pass.serial = "1004";
    UnitEnd misfit;
    misfit.reason = "wrong board: ZigBee 1.5.0";
    misfit.advice = "set it aside";
    misfit.held = true;
    UnitEnd unplug = misfit;
    unplug.unplugged = true;
    unplug.held = false;
    const StationEvent identified = events::Identified{"ZigBee", "1.5.0"};

    const FeedCase cases[] = {
        {"searching alone", {events::Searching{}}, {}, TileState::Waiting, false, 0, 0},
        {"connected", {events::Connected{}}, {}, TileState::Identifying, false, 0, 0},
        {"erasing", {events::Connected{}, Erased(1)}, {}, TileState::Programming, false, 0, 0},
        {"pass stays after the board leaves",
         {events::Connected{}, Sent(1, 256), events::Finished{}, events::Disconnected{},
          events::Searching{}},
         pass,
         TileState::Pass,
         false,
         1,
         0},
        {"a misfit is held",
         {events::Connected{}, identified, events::Refused{}},
         misfit,
         TileState::Fail,
         true,
         0,
         1},
        {"unplugged", {events::Connected{}}, unplug, TileState::Unplugged, false, 0, 1},
    };
    for (const FeedCase& c : cases) {
        VirtualClock clock;
        LineState state(clock, [] { return std::int64_t{42}; });
        const std::size_t index = state.AddStation("sim-usb-1.4", "", "SIM00001");
        StationFeed feed(state, index);
        for (const StationEvent& event : c.events) feed.OnStationEvent(event);
        if (c.end) state.UnitDone(index, *c.end);
        const Tile tile = state.TileOf(index);
        EXPECT_EQ(tile.state, c.state) << c.name;
        EXPECT_EQ(tile.held, c.held) << c.name;
        EXPECT_EQ(tile.passed, c.passed) << c.name;
        EXPECT_EQ(tile.failed, c.failed) << c.name;
        if (c.end && !c.end->passed) {
            EXPECT_EQ(tile.reason, c.end->reason) << c.name;
        }
    }
}

TEST(StationFeedTest, NextBoardClearsTheLastResultAndTakenOutBoardWaits) {
    VirtualClock clock;
    LineState state(clock, [] { return std::int64_t{0}; });
    StationFeed feed(state, state.AddStation("s", "", ""));
    UnitEnd fail;
    fail.reason = "target silent";
    fail.serial = "7";
    fail.held = true;
    feed.OnStationEvent(events::Connected{});
    state.UnitDone(0, fail);
    feed.OnStationEvent(events::BoardTakenOut{});
    EXPECT_EQ(state.TileOf(0).state, TileState::Waiting);
    EXPECT_FALSE(state.TileOf(0).held);
    feed.OnStationEvent(events::Connected{});
    const Tile tile = state.TileOf(0);
    EXPECT_EQ(tile.state, TileState::Identifying);
    EXPECT_EQ(tile.serial, "");
    EXPECT_EQ(tile.reason, "");
    EXPECT_EQ(tile.failed, 1);
}

TEST(StationFeedTest, SpeedAndRateComeFromTheClock) {
    VirtualClock clock;
    LineState state(clock, [] { return std::int64_t{0}; });
    StationFeed feed(state, state.AddStation("s", "", ""));
    EXPECT_TRUE(nlohmann::json::parse(state.Snapshot())["header"]["yield"].is_null());
    feed.OnStationEvent(events::Connected{});
    feed.OnStationEvent(Sent(1, 256));
    clock.Advance(Millis(500));
    feed.OnStationEvent(Sent(41, 10256));
    // 10256 bytes in 500 ms.
    EXPECT_NEAR(state.TileOf(0).kilobytesPerSecond, 20.512, 1e-9);
    UnitEnd pass;
    pass.passed = true;
    state.UnitDone(0, pass);
    UnitEnd fail;
    state.UnitDone(0, fail);
    state.UnitDone(0, pass);
    state.UnitDone(0, pass);
    clock.Advance(Millis(3600000 - 500));  // an hour since the start
    const auto header = nlohmann::json::parse(state.Snapshot())["header"];
    EXPECT_EQ(header["units"], 4);
    EXPECT_DOUBLE_EQ(header["yield"].get<double>(), 0.75);
    EXPECT_DOUBLE_EQ(header["unitsPerHour"].get<double>(), 4.0);
}

TEST(LineStateTest, ConnectionsGetOnlyWhatChanged) {
    VirtualClock clock;
    LineState state(clock, [] { return std::int64_t{0}; });
    state.AddStation("a", "", "");
    state.AddStation("b", "", "");
    std::uint64_t since = 0;
    auto first = state.WaitForChanges(since, Millis(0));
    ASSERT_TRUE(first);
    EXPECT_EQ(nlohmann::json::parse(*first)["stations"].size(), 2u);
    state.Change(1, [](Tile& tile) { tile.state = TileState::Pass; });
    state.Change(1, [](Tile& tile) { tile.passed = 3; });
    auto text = state.WaitForChanges(since, Millis(0));
    ASSERT_TRUE(text);
    const auto next = nlohmann::json::parse(*text);
    ASSERT_EQ(next["stations"].size(), 1u);
    EXPECT_EQ(next["stations"][0]["index"], 1);
    EXPECT_EQ(next["stations"][0]["passed"], 3);
    EXPECT_FALSE(state.WaitForChanges(since, Millis(0)));
    state.Close();
    state.Change(0, [](Tile&) {});
    EXPECT_FALSE(state.WaitForChanges(since, Millis(0)));
}

}  // namespace
}  // namespace farsend::line

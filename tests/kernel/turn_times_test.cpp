#include "kernel/turn_times.h"

#include <gtest/gtest.h>

#include <vector>

namespace farsend::kernel {
namespace {

TEST(TurnTimesTest, SummaryByNearestRank) {
    struct Case {
        std::vector<double> ms;
        double median, p90, max;
        size_t over;  // longer than 11 ms
    };
    const Case cases[] = {
        {{}, 0, 0, 0, 0},
        {{12}, 12, 12, 12, 1},
        {{10, 1, 9, 2, 8, 3, 7, 4, 6, 5}, 5, 9, 10, 0},
        // A turn of exactly the limit is within it.
        {{11, 11.5, 3, 3, 40}, 11, 40, 40, 2},
    };
    for (const Case& c : cases) {
        const TurnSummary s = Summarise(c.ms, 11.0);
        EXPECT_EQ(s.count, c.ms.size());
        EXPECT_DOUBLE_EQ(s.median_ms, c.median);
        EXPECT_DOUBLE_EQ(s.p90_ms, c.p90);
        EXPECT_DOUBLE_EQ(s.max_ms, c.max);
        EXPECT_EQ(s.over, c.over);
    }
    EXPECT_EQ(Summarise({1, 7, 3, 9, 5, 2}, 11.0).longest, (std::vector<double>{9, 7, 5, 3, 2}));
}

// Each turn runs from the other side's last report to this side's first
// answer; reports that answer nothing start no turn of their own.
TEST(TurnTimesTest, PairsEachAnswerWithTheOtherSidesLastReport) {
    using std::chrono::milliseconds;
    const TurnTimes::Clock::time_point t0{};
    TurnTimes turns;
    turns.InputSent(t0);                    // a call the host lets pass
    turns.InputSent(t0 + milliseconds(5));  // the one it answers
    turns.OutputReceived(t0 + milliseconds(8));
    turns.OutputReceived(t0 + milliseconds(9));  // more of the same command
    turns.InputSent(t0 + milliseconds(20));
    turns.InputSent(t0 + milliseconds(21));
    turns.OutputReceived(t0 + milliseconds(35));
    EXPECT_EQ(turns.HostTurns(), (std::vector<double>{3, 14}));
    EXPECT_EQ(turns.BridgeTurns(), (std::vector<double>{11}));
}

}  // namespace
}  // namespace farsend::kernel

// The page's actions, handed from a server thread to the run's thread.
#include "line/line_actions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace farsend::line {
namespace {

TEST(LineActionsTest, TheRunAnswersWhatWasAsked) {
    LineActions actions;
    std::atomic<bool> done{false};
    std::vector<LineAction> carried;
    // The run's loop: looks for actions until the asker has its answer.
    std::thread run([&] {
        while (!done) {
            actions.Serve([&](const LineAction& action) {
                carried.push_back(action);
                return ActionAnswer{action.station == 2 ? 409 : 200, "answered"};
            });
            std::this_thread::yield();
        }
    });
    const auto answer = actions.Ask({ActionKind::Retry, 2}, Millis(60000));
    done = true;
    run.join();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->httpStatus, 409);
    ASSERT_EQ(carried.size(), 1u);
    EXPECT_EQ(carried[0].kind, ActionKind::Retry);
}

TEST(LineActionsTest, AnActionNobodyTookIsWithdrawn) {
    LineActions actions;
    EXPECT_FALSE(actions.Ask({ActionKind::Stop, 0}, Millis(0)));
    int carried = 0;
    actions.Serve([&](const LineAction&) {
        ++carried;
        return ActionAnswer{};
    });
    EXPECT_EQ(carried, 0);
    EXPECT_EQ(ActionKindNamed("continue"), ActionKind::Continue);
    EXPECT_FALSE(ActionKindNamed("erase"));
}

}  // namespace
}  // namespace farsend::line

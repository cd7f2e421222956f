#include "common/clock.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/virtual_clock.h"

namespace farsend {
namespace {

TEST(SteadyClock, NotifyBeforeWaitIsNotLost) {
    SteadyClock clock;
    WakeSignal signal;
    signal.Notify();
    const Millis start = clock.Now();
    EXPECT_TRUE(clock.WaitFor(signal, Millis(5000)));
    EXPECT_LT((clock.Now() - start).count(), 1000);
    EXPECT_FALSE(signal.Consume());
}

TEST(SteadyClock, NotifyFromAnotherThreadWakesTheWaiter) {
    SteadyClock clock;
    WakeSignal signal;
    std::thread poster([&] { signal.Notify(); });
    EXPECT_TRUE(clock.WaitFor(signal, Millis(10000)));
    poster.join();
}

TEST(SteadyClock, WaitWithoutNotifyTimesOut) {
    SteadyClock clock;
    WakeSignal signal;
    const Millis start = clock.Now();
    EXPECT_FALSE(clock.WaitFor(signal, Millis(20)));
    EXPECT_GE((clock.Now() - start).count(), 19);
}

TEST(VirtualClock, WaitsCostNoRealTime) {
    testing::VirtualClock clock;
    WakeSignal signal;
    const Millis start = clock.Now();
    EXPECT_FALSE(clock.WaitFor(signal, Millis(13000)));
    EXPECT_EQ((clock.Now() - start).count(), 13000);
    signal.Notify();
    EXPECT_TRUE(clock.WaitFor(signal, Millis(13000)));
    EXPECT_EQ((clock.Now() - start).count(), 13000);
}

}  // namespace
}  // namespace farsend

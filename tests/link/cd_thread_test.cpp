#include "link/cd_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace farsend::link {
namespace {

// Runs until asked to stop, counting its passes.
class LoopingThread final : public CDThread {
public:
    ~LoopingThread() override {
        RequestStop();
        Wait(-1);
    }
    std::atomic<int> passes{0};
    std::atomic<bool> refuseStart{false};
    std::atomic<bool>* exited = nullptr;

protected:
    bool OnStart() override { return !refuseStart.load(); }
    uint32_t Run() override {
        while (!IsStopRequested()) {
            ++passes;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (exited != nullptr) *exited = true;
        return 7;
    }
};

TEST(CDThread, IdleThreadRefusesStopAndWaitsAtOnce) {
    LoopingThread thread;
    EXPECT_FALSE(thread.RequestStop());
    EXPECT_TRUE(thread.Wait(0));
    EXPECT_TRUE(thread.IsStopRequested()) << "a thread not yet started counts as stopped";
    EXPECT_FALSE(thread.SetPriority(2)) << "no thread to set a priority on";
}

TEST(CDThread, StartTwiceRefusedThenStopWaitAndStartAgain) {
    LoopingThread thread;
    ASSERT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start());
    EXPECT_FALSE(thread.Wait(0)) << "still running";
    EXPECT_TRUE(thread.RequestStop());
    EXPECT_TRUE(thread.Wait(-1));
    EXPECT_EQ(thread.ExitCode(), 7);
    EXPECT_FALSE(thread.IsRunning());

    ASSERT_TRUE(thread.Start()) << "a joined thread may start again";
    EXPECT_FALSE(thread.IsStopRequested());
    EXPECT_TRUE(thread.RequestStop());
    EXPECT_TRUE(thread.Wait(-1));
}

#if defined(_WIN32)
TEST(CDThread, SetPriorityRaisesARunningThreadOnWindows) {
    LoopingThread thread;
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.SetPriority(2));
    EXPECT_TRUE(thread.RequestStop());
    EXPECT_TRUE(thread.Wait(-1));
}
#endif

TEST(CDThread, RefusedOnStartSkipsRunAndExitsWithMinusOne) {
    LoopingThread thread;
    thread.refuseStart = true;
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.Wait(-1));
    EXPECT_EQ(thread.ExitCode(), -1);
    EXPECT_EQ(thread.passes.load(), 0);
}

TEST(CDThread, DestroyingARunningThreadStopsIt) {
    std::atomic<bool> exited{false};
    auto thread = std::make_unique<LoopingThread>();
    thread->exited = &exited;
    ASSERT_TRUE(thread->Start());
    thread.reset();
    EXPECT_TRUE(exited.load()) << "the body ended before the object went";
}

}  // namespace
}  // namespace farsend::link

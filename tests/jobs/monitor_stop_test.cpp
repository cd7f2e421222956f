// Stopping a monitor that is inside its handshake: the stop cancels the wait
// for the target's call at once, in real time, and lets go of the link. And a
// stop that comes while a job programs leaves the job's exchanges alone.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "app/command_ids.h"
#include "job_test_support.h"
#include "jobs/connection_monitor.h"
#include "jobs/job_workers.h"
#include "protocol/exchanges.h"
#include "support/temp_directory.h"

namespace farsend::jobs {
namespace {

using app::ConnectionState;
using farsend::testing::GatedClock;
using farsend::testing::PatternRun;
using farsend::testing::RecordingDialog;
using farsend::testing::RecordingMainWindow;
using farsend::testing::SimRig;
using farsend::testing::TempDirectory;
namespace packets = sim::packets;

// The link's clock, passing through to the simulation's (real time), that
// tells the test when the link is about to sleep for longer than any pause
// of the monitor: that is the handshake waiting for the call.
class HandshakeWatchClock final : public Clock {
public:
    explicit HandshakeWatchClock(Clock& inner) : inner_(inner) {}
    Millis Now() override { return inner_.Now(); }
    void SleepFor(Millis duration) override { inner_.SleepFor(duration); }
    bool WaitFor(WakeSignal& signal, Millis timeout) override {
        if (timeout > Millis(1000)) {
            std::lock_guard<std::mutex> lock(mutex_);
            ++longWaits_;
            changed_.notify_all();
        }
        return inner_.WaitFor(signal, timeout);
    }
    // Waits (real time, bounded) until a long wait has begun.
    bool WaitForLongWait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return longWaits_ > 0; });
    }

private:
    Clock& inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int longWaits_ = 0;
};

enum class StopBy { RequestStop, Stop, StartAnother };

struct StopCase {
    std::string name;
    StopBy how;
};

class StopDuringHandshake : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopDuringHandshake, EndsAtOnceWithTheLinkClosed) {
    sim::SimOptions options = SimRig::DefaultOptions();
    options.faults.silence_after = 0;  // the target never calls
    std::string error;
    // Real time: without a stop the handshake would wait 13 seconds.
    std::unique_ptr<sim::Simulation> simulation = sim::Simulation::Create(options, error);
    ASSERT_TRUE(simulation) << error;
    link::HidSerialLink link;
    simulation->AttachLink(link);
    HandshakeWatchClock watch(*link.clock);
    link.clock = &watch;
    protocol::ExchangeContext exchanges{link};

    app::ToolSettings settings;
    RecordingMainWindow mainWindow(settings);
    GatedClock pacing;
    pacing.SetFree(true);
    ConnectionMonitorControl control(
        {settings, settings, exchanges, mainWindow, &pacing, &mainWindow.observer});
    control.Start();
    ASSERT_TRUE(watch.WaitForLongWait());

    SteadyClock steady;
    const Millis asked = steady.Now();
    switch (GetParam().how) {
        case StopBy::RequestStop:
            control.RequestStop();
            ASSERT_TRUE(control.WaitUntilStopped(Millis(10000)));
            break;
        case StopBy::Stop:
            EXPECT_TRUE(control.Stop());
            break;
        case StopBy::StartAnother: {
            // The new monitor waits for the old one, which must give up its
            // handshake; then the new one is stopped before it starts.
            std::atomic<bool> betweenRan{false};
            control.Start([&] { betweenRan = true; });
            control.RequestStop();
            ASSERT_TRUE(control.WaitUntilStopped(Millis(10000)));
            EXPECT_TRUE(betweenRan);
            break;
        }
    }
    // An exchange of the window thread (Exit's launch) gets the link at once.
    protocol::LaunchTargetApplication(exchanges);
    const Millis took = steady.Now() - asked;
    std::printf("[          ] stop during handshake took %lld ms\n",
                static_cast<long long>(took.count()));
    EXPECT_LT(took, Millis(1000));

    EXPECT_FALSE(control.Running());
    EXPECT_FALSE(settings.monitorRunning);
    EXPECT_NE(settings.connectionState, ConnectionState::Connected);
    EXPECT_EQ(link.writeHandle, link::kNoHandle);
    EXPECT_EQ(link.readHandle, link::kNoHandle);
    EXPECT_EQ(link.reader, nullptr);
    EXPECT_TRUE(mainWindow.Calls().empty());
    // Nothing reached the target: no Ack, and the launch found the link
    // closed.
    EXPECT_TRUE(simulation->Target().Commands().empty());
    simulation.reset();
}

INSTANTIATE_TEST_SUITE_P(Ways, StopDuringHandshake,
                         ::testing::Values(StopCase{"RequestStop", StopBy::RequestStop},
                                           StopCase{"Stop", StopBy::Stop},
                                           StopCase{"StartAnother", StopBy::StartAnother}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                             return info.param.name;
                         });

TEST(MonitorStop, AStopDuringAProgrammingJobLeavesTheJobsExchangesAlone) {
    sim::SimOptions options = SimRig::DefaultOptions();
    options.variant = "Bluetooth";
    options.version = "1.5.0";
    options.erase_blocks = 3;
    SimRig rig(options);
    TempDirectory directory;
    const std::vector<sim::ImageRun> image = {PatternRun(0x4000, 1000)};
    const std::filesystem::path path = directory.path() / "Farsend_15_bt.hex";
    farsend::testing::WriteImageOfSize(path, image, sim::FormatImage(image).size());

    app::ToolSettings settings;
    settings.firmwarePath.Set(path.string());
    settings.autoProgram = true;
    RecordingMainWindow mainWindow(settings);
    GatedClock pacing;
    pacing.SetFree(true);
    MonitorStop stop;
    std::vector<JobReport> reports;
    std::atomic<bool> stoppedDuringJob{false};
    mainWindow.onCommand = [&](int command) {
        if (command == app::kCommandProgrammingFinished) {
            settings.connectionState = ConnectionState::Disconnected;
        }
        if (command != app::kCommandProgramNow) return;
        settings.programmingBusy = true;
        RecordingDialog dialog(mainWindow);
        // The stop comes from the worker's thread, in the middle of the
        // erase, while the job waits for the target's answers.
        dialog.onFirstEraseStep = [&] {
            stop.Request();
            stoppedDuringJob = true;
        };
        JobEnvironment job{settings, rig.exchanges, &dialog};
        std::thread worker([&] {
            reports.push_back(ProgramApplicationWorker(job, PathToProgram(settings, settings)));
        });
        worker.join();
    };

    std::thread monitor([&] {
        ConnectionMonitor(
            {settings, settings, rig.exchanges, mainWindow, &pacing, &mainWindow.observer}, stop);
    });
    monitor.join();  // ends by itself: the stop came during the attempt

    EXPECT_TRUE(stoppedDuringJob);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].Succeeded());
    EXPECT_EQ(rig.simulation->Target().Flash(), farsend::testing::ContentsOf(image));
    EXPECT_TRUE(rig.TargetReceived(packets::kEndOfData));
    EXPECT_EQ(mainWindow.Commands(),
              (std::vector<int>{app::kCommandProgramNow, app::kCommandProgrammingFinished}));
    EXPECT_EQ(rig.link.writeHandle, link::kNoHandle);
}

}  // namespace
}  // namespace farsend::jobs

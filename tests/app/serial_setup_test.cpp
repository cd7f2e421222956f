#include "app/serial_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/recording_view.h"

namespace farsend::app {
namespace {

// Records the steps in order. A restart runs the release at once, as a new
// monitor does once the old one has ended.
class RecordingSteps final : public PortChangeSteps {
public:
    explicit RecordingSteps(bool monitorRunning) : running_(monitorRunning) {}
    bool MonitorRunning() override { return running_; }
    void RestartMonitor(std::function<void()> release) override {
        calls.push_back("restart");
        release();
        calls.push_back("new monitor polls");
    }
    std::vector<std::string> calls;

private:
    bool running_;
};

struct SerialCase {
    const char* what;
    int applied;
    ConnectionState state;
    bool monitorRunning;
    std::vector<int> clicks;
    int pendingAfterClicks;
    std::vector<std::string> calls;  // after OK
    ConnectionState stateAfter;
    int portAfter;
    std::vector<std::string> viewCalls;
};

constexpr auto kNever = ConnectionState::NeverConnected;
constexpr auto kDisc = ConnectionState::Disconnected;
constexpr auto kConn = ConnectionState::Connected;

// clang-format off
const std::vector<SerialCase> kCases = {
    {"OK without a change: nothing happens", 1, kConn, true, {}, 1, {}, kConn, 1, {}},
    {"clicked away and back: nothing happens", 2, kConn, true, {3, 2}, 2, {}, kConn, 2, {}},
    {"COM3 while connected: monitor stopped, target let go, one monitor again",
     1, kConn, true, {3}, 3, {"restart", "launch", "new monitor polls"}, kDisc, 3,
     {"status0:NOT CONNECTED"}},
    {"COM2 while disconnected: the monitor restarts, no launch",
     1, kDisc, true, {2}, 2, {"restart", "new monitor polls"}, kDisc, 2, {}},
    {"COM4 before any connection", 1, kNever, true, {4}, 4, {"restart", "new monitor polls"}, kNever, 4, {}},
    {"no monitor running: none is started", 1, kDisc, false, {2}, 2, {"changed"}, kDisc, 2, {}},
    {"no monitor running, connected: the target is let go at once", 1, kConn, false, {2}, 2,
     {"launch", "changed"}, kDisc, 2, {"status0:NOT CONNECTED"}},
    {"an applied port outside 1..4 opens as COM1", 9, kDisc, true, {}, 1,
     {"restart", "new monitor polls"}, kDisc, 1, {}},
    {"a box number outside 1..4 is ignored", 2, kDisc, true, {0, 5}, 2, {}, kDisc, 2, {}},
};
// clang-format on

class SerialSetupTests : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialSetupTests, ClicksThenOk) {
    const SerialCase& c = GetParam();
    SCOPED_TRACE(c.what);
    ToolSettings settings;
    RecordingView view;
    settings.view = &view;
    settings.comPort = c.applied;
    settings.connectionState = c.state;

    SerialSetup setup(settings);
    for (int port : c.clicks) setup.Choose(port);
    EXPECT_EQ(setup.PendingPort(), c.pendingAfterClicks);
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        EXPECT_EQ(setup.Checked(port), port == c.pendingAfterClicks) << "COM" << port;
    }

    RecordingSteps steps(c.monitorRunning);
    const bool changed = setup.Apply(settings, steps, [&] { steps.calls.push_back("launch"); });
    if (changed && !c.monitorRunning) steps.calls.push_back("changed");
    EXPECT_EQ(changed, !c.calls.empty());
    EXPECT_EQ(steps.calls, c.calls);
    EXPECT_EQ(settings.connectionState, c.stateAfter);
    EXPECT_EQ(settings.comPort, c.portAfter);
    EXPECT_EQ(view.Calls(), c.viewCalls);
    settings.view = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, SerialSetupTests, ::testing::ValuesIn(kCases));

TEST(SerialSetupCancel, ACancelledChoiceIsForgottenAtTheNextOpening) {
    ToolSettings settings;
    {
        SerialSetup setup(settings);
        setup.Choose(2);
    }  // Cancel: nothing applied
    SerialSetup reopened(settings);
    EXPECT_EQ(reopened.PendingPort(), 1);
    RecordingSteps steps(true);
    EXPECT_FALSE(reopened.Apply(settings, steps, [&] { steps.calls.push_back("launch"); }));
    EXPECT_TRUE(steps.calls.empty());
}

}  // namespace
}  // namespace farsend::app

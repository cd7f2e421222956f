#include "app/serial_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/recording_view.h"

namespace farsend::app {
namespace {

// Records the steps in order, together with the state each one saw.
class RecordingSteps final : public PortChangeSteps {
public:
    explicit RecordingSteps(ToolSettings& settings, bool monitorRunning)
        : settings_(settings), running_(monitorRunning) {}
    bool StopMonitor() override {
        calls.push_back(running_ ? "stop" : "stop(none)");
        const bool was = running_;
        running_ = false;
        return was;
    }
    void LaunchTargetApplication() override {
        // Only with no monitor left that could use the link beside us.
        calls.push_back(running_ ? "launch(monitor running!)" : "launch");
    }
    void StartMonitor() override {
        calls.push_back(running_ ? "start(second monitor!)" : "start");
        calls.back() += settings_.connectionState == ConnectionState::Connected ? "(connected)" : "";
        running_ = true;
    }
    std::vector<std::string> calls;

private:
    ToolSettings& settings_;
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
     1, kConn, true, {3}, 3, {"stop", "launch", "start"}, kDisc, 3, {"status0:NOT CONNECTED"}},
    {"COM2 while disconnected: the monitor restarts, no launch",
     1, kDisc, true, {2}, 2, {"stop", "start"}, kDisc, 2, {}},
    {"COM4 before any connection", 1, kNever, true, {4}, 4, {"stop", "start"}, kNever, 4, {}},
    {"no monitor running: none is started", 1, kDisc, false, {2}, 2, {"stop(none)"}, kDisc, 2, {}},
    {"an applied port outside 1..4 opens as COM1", 9, kDisc, true, {}, 1,
     {"stop", "start"}, kDisc, 1, {}},
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

    RecordingSteps steps(settings, c.monitorRunning);
    EXPECT_EQ(setup.Apply(settings, steps), !c.calls.empty());
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
    RecordingSteps steps(settings, true);
    EXPECT_FALSE(reopened.Apply(settings, steps));
    EXPECT_TRUE(steps.calls.empty());
}

}  // namespace
}  // namespace farsend::app

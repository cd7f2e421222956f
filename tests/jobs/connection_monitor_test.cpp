// The connection monitor end to end: its passes over the real exchanges,
// link and reader thread against the simulated target in virtual time, its
// pauses held at a gate the test opens one at a time.
#include "jobs/connection_monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/command_ids.h"
#include "job_test_support.h"
#include "jobs/job_workers.h"
#include "jobs/socket_hold.h"
#include "protocol/exchanges.h"
#include "support/temp_directory.h"
#include "ui_thread.h"

namespace farsend::jobs {
namespace {

using app::ConnectionState;
using farsend::testing::GatedClock;
using farsend::testing::PatternRun;
using farsend::testing::RecordingDialog;
using farsend::testing::RecordingMainWindow;
using farsend::testing::SimRig;
using farsend::testing::TempDirectory;
using farsend::testing::UiThread;
namespace packets = sim::packets;
using Codes = std::vector<uint8_t>;

sim::SimOptions TargetOptions(const std::string& variant, const std::string& version,
                              uint32_t targets = 1) {
    sim::SimOptions options = SimRig::DefaultOptions();
    options.variant = variant;
    options.version = version;
    options.erase_blocks = 3;
    options.targets = targets;
    return options;
}

// One monitor on the test's gate, and a main window that runs the
// programming job for 610 the way the shell does (busy flag, worker thread,
// back when it has ended) and records what reaches it.
class MonitorHarness {
public:
    explicit MonitorHarness(const sim::SimOptions& options) : rig(options) {
        mainWindow.onCommand = [this](int command) { Handle(command); };
    }
    ~MonitorHarness() { Stop(); }

    void UseFirmware(const std::string& name) {
        const std::filesystem::path path = directory.path() / name;
        farsend::testing::WriteImageOfSize(path, image, sim::FormatImage(image).size());
        settings.firmwarePath.Set(path.string());
    }
    void Start() {
        thread = std::thread([this] { ConnectionMonitor(environment, stop); });
    }
    // Lets `passes` pauses go and waits until the monitor sits in the next.
    void Pass(int pauses) {
        const int asked = gate.Asked();
        gate.Grant(pauses);
        ASSERT_TRUE(gate.WaitHeld(asked + pauses));
    }
    void Stop() {
        stop.Request();
        if (thread.joinable()) thread.join();
    }
    Codes TargetCommands() const { return rig.CommandCodes(); }

    SimRig rig;
    TempDirectory directory;
    std::vector<sim::ImageRun> image = {PatternRun(0x4000, 700)};
    app::ToolSettings settings;
    RecordingMainWindow mainWindow{settings};
    GatedClock gate;
    MonitorEnvironment environment{settings,   settings, rig.exchanges,
                                   mainWindow, &gate,    &mainWindow.observer};
    MonitorStop stop;
    std::thread thread;
    std::vector<JobReport> jobs;

private:
    void Handle(int command) {
        if (command == app::kCommandProgramNow) {
            settings.programmingBusy = true;
            // The dialog tells the station's observer too, as the shell's
            // does; the window's own observer already heard it.
            StationObserver* station =
                environment.observer == &mainWindow.observer ? nullptr : environment.observer;
            RecordingDialog dialog(mainWindow, station);
            JobEnvironment job{settings, rig.exchanges, &dialog};
            std::thread worker([&] {
                jobs.push_back(RunJobWorker(JobKind::ProgramApplication,
                                            PathToProgram(settings, settings), job));
            });
            worker.join();
        } else if (command == app::kCommandProgrammingFinished) {
            settings.connectionState = ConnectionState::Disconnected;
        } else if (command == app::kCommandCommunicationFailure) {
            protocol::DisconnectTarget(rig.exchanges);
            settings.connectionState = ConnectionState::Disconnected;
        }
    }
};

// --- Auto-program and validation -------------------------------------------

struct FitCase {
    std::string name;
    std::string variant;  // what the target reports
    std::string version;
    std::string file;
    bool programmed;
};

class AutoProgram : public ::testing::TestWithParam<FitCase> {};

TEST_P(AutoProgram, ValidatesThenProgramsOrAborts) {
    const FitCase& c = GetParam();
    MonitorHarness h(TargetOptions(c.variant, c.version));
    h.UseFirmware(c.file);
    h.settings.autoProgram = true;
    h.Start();
    h.Pass(2);  // the pause before the pass, the one after the attempt

    const Codes queries = {packets::kAck, packets::kQueryVariant, packets::kQueryVersion};
    const Codes commands = h.TargetCommands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(Codes(commands.begin(), commands.begin() + 3), queries);
    if (c.programmed) {
        EXPECT_EQ(h.mainWindow.Calls(),
                  (std::vector<std::string>{"status:CONNECTED", "command:610", "command:660",
                                            "status:NOT CONNECTED"}));
        EXPECT_EQ(commands[3], packets::kProgramApplication);
        EXPECT_EQ(commands.back(), packets::kEndOfData);
        EXPECT_EQ(h.rig.simulation->Target().TargetsProgrammed(), 1u);
        EXPECT_EQ(h.rig.simulation->Target().Flash(), farsend::testing::ContentsOf(h.image));
    } else {
        EXPECT_EQ(h.mainWindow.Calls(),
                  (std::vector<std::string>{"status:CONNECTED", "message:Incorrect Firmware.",
                                            "status:NOT CONNECTED"}));
        EXPECT_EQ(h.mainWindow.Messages()[0], IncorrectFirmwareMessage());
        EXPECT_EQ(commands, (Codes{packets::kAck, packets::kQueryVariant, packets::kQueryVersion,
                                   packets::kAbort}));
    }
    // 500 ms after the attempt the link is closed.
    EXPECT_EQ(h.gate.Taken(), (std::vector<Millis>{kMonitorPassPause, kAfterProgrammingPause}));
    EXPECT_EQ(h.rig.link.writeHandle, link::kNoHandle);
    EXPECT_EQ(h.settings.connectionState, ConnectionState::Disconnected);
    EXPECT_EQ(h.settings.programRequest, app::ProgramRequest::None);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, AutoProgram,
    ::testing::Values(
        FitCase{"BluetoothFileOnBluetooth15", "Bluetooth", "1.5.0", "Farsend_15_bt.hex", true},
        FitCase{"ZigBeeFileOnZigBee20", "ZigBee", "2.0.7", "Farsend_20_802.hex", true},
        FitCase{"NoVersionDigitsOnAnyVersion", "Bluetooth", "3.9.1", "Farsend_bt.hex", true},
        FitCase{"BluetoothFileOnZigBee", "ZigBee", "1.5.0", "Farsend_15_bt.hex", false},
        FitCase{"Version20FileOn15", "Bluetooth", "1.5.0", "Farsend_20_bt.hex", false},
        FitCase{"NoVariantMarker", "Bluetooth", "1.5.0", "Farsend_15.hex", false}),
    [](const ::testing::TestParamInfo<FitCase>& info) { return info.param.name; });

TEST(Monitor, MissingFirmwareWarnsAndAbortsWithoutQueries) {
    MonitorHarness h(TargetOptions("Bluetooth", "1.5.0"));
    h.settings.autoProgram = true;
    h.Start();
    h.Pass(2);
    EXPECT_EQ(h.mainWindow.Calls(),
              (std::vector<std::string>{"status:CONNECTED", "message:Missing Firmware.",
                                        "status:NOT CONNECTED"}));
    EXPECT_EQ(h.mainWindow.Messages()[0], MissingFirmwareMessage());
    EXPECT_EQ(h.TargetCommands(), (Codes{packets::kAck, packets::kAbort}));
    EXPECT_EQ(h.rig.link.writeHandle, link::kNoHandle);
}

TEST(Monitor, WithoutValidationNoQueryPrecedesProgramming) {
    MonitorHarness h(TargetOptions("ZigBee", "1.0"));
    h.UseFirmware("Farsend_15_bt.hex");  // would not fit
    h.settings.validateDevice = false;
    h.settings.autoProgram = true;
    h.Start();
    h.Pass(2);
    const Codes commands = h.TargetCommands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[1], packets::kProgramApplication);
    EXPECT_EQ(h.rig.simulation->Target().TargetsProgrammed(), 1u);
}

TEST(Monitor, RequestMadeWhileDisconnectedIsCarriedOutWhenATargetArrives) {
    // The first target is let go before the monitor starts; the next one
    // arrives while the monitor's handshake waits for a call.
    MonitorHarness h(TargetOptions("Bluetooth", "1.5.0", 2));
    h.UseFirmware("Farsend_15_bt.hex");
    ASSERT_EQ(protocol::ConnectTarget(h.rig.exchanges), protocol::ExchangeResult::Ok);
    protocol::LaunchTargetApplication(h.rig.exchanges);
    h.settings.connectionState = ConnectionState::Disconnected;
    h.settings.programRequest = app::ProgramRequest::Requested;  // 659 while disconnected

    h.Start();
    h.Pass(2);

    const sim::SimulatedTarget& target = h.rig.simulation->Target();
    EXPECT_EQ(target.TargetsArrived(), 2u);
    EXPECT_EQ(target.TargetsProgrammed(), 1u);
    EXPECT_EQ(target.Commands().back().target, 2u);
    EXPECT_EQ(h.mainWindow.Commands(),
              (std::vector<int>{app::kCommandProgramNow, app::kCommandProgrammingFinished}));
    EXPECT_EQ(h.settings.programRequest, app::ProgramRequest::None);

    // One-shot: the next pass connects nobody new and asks for nothing.
    h.Pass(1);
    EXPECT_EQ(h.mainWindow.Commands().size(), 2u);
}

TEST(Monitor, ConnectedWithoutAWishOnlyPauses) {
    MonitorHarness h(TargetOptions("Bluetooth", "1.5.0"));
    h.UseFirmware("Farsend_15_bt.hex");
    h.Start();
    h.Pass(6);
    EXPECT_EQ(h.mainWindow.Calls(), std::vector<std::string>{"status:CONNECTED"});
    EXPECT_EQ(h.TargetCommands(), Codes{packets::kAck});
    EXPECT_EQ(h.settings.connectionState, ConnectionState::Connected);
    EXPECT_NE(h.rig.link.writeHandle, link::kNoHandle);
    EXPECT_TRUE(h.settings.monitorRunning);

    // A request made now is taken on the next pass.
    h.settings.programRequest = app::ProgramRequest::Requested;
    h.Pass(2);
    EXPECT_EQ(h.rig.simulation->Target().TargetsProgrammed(), 1u);
}

TEST(Monitor, ProgramsTheFileItCheckedNotOneChosenWhileItChecked) {
    MonitorHarness h(TargetOptions("Bluetooth", "1.5.0"));
    h.UseFirmware("Farsend_15_bt.hex");
    const std::filesystem::path other = h.directory.path() / "Farsend_20_802.hex";
    const std::vector<sim::ImageRun> otherImage = {PatternRun(0x8000, 300)};
    farsend::testing::WriteImageOfSize(other, otherImage, sim::FormatImage(otherImage).size());
    // The setup dialog's OK picks a file that does not fit while the
    // checking queries run.
    h.rig.muting->onCommand = [&](uint8_t code) {
        if (code == packets::kQueryVersion) h.settings.firmwarePath.Set(other.string());
    };
    h.settings.autoProgram = true;
    h.Start();
    h.Pass(2);

    ASSERT_EQ(h.jobs.size(), 1u);
    EXPECT_TRUE(h.jobs[0].Succeeded());
    EXPECT_EQ(h.rig.simulation->Target().Flash(), farsend::testing::ContentsOf(h.image));
    EXPECT_EQ(h.settings.attemptPath.Get(), "");
}

TEST(Monitor, ARequestWaitsWhileTheOperatorHasTheLink) {
    MonitorHarness h(TargetOptions("Bluetooth", "1.5.0"));
    h.UseFirmware("Farsend_15_bt.hex");
    h.Start();
    h.Pass(1);
    ASSERT_EQ(h.settings.connectionState, ConnectionState::Connected);
    {
        // An erase job the operator started from the window.
        const app::LinkClaim erase(h.settings.linkUser, app::LinkUser::Operator);
        h.settings.programRequest = app::ProgramRequest::Requested;
        h.Pass(3);
        EXPECT_EQ(h.TargetCommands(), Codes{packets::kAck});
        EXPECT_EQ(h.settings.programRequest, app::ProgramRequest::Requested);
    }
    h.Pass(2);
    EXPECT_EQ(h.rig.simulation->Target().TargetsProgrammed(), 1u);
    EXPECT_EQ(h.settings.linkUser, app::LinkUser::None);
}

TEST(Monitor, JobCommunicationErrorStillEndsWithPauseCloseAndDisconnected) {
    MonitorHarness h(TargetOptions("Bluetooth", "1.5.0"));
    h.UseFirmware("Farsend_15_bt.hex");
    h.settings.autoProgram = true;
    h.rig.muting->MuteAfterCommand(packets::kEndOfData);
    h.Start();
    h.Pass(2);
    EXPECT_EQ(h.mainWindow.Calls(),
              (std::vector<std::string>{"status:CONNECTED", "command:610", "command:650",
                                        "status:NOT CONNECTED"}));
    EXPECT_EQ(h.gate.Taken().back(), kAfterProgrammingPause);
    EXPECT_EQ(h.settings.connectionState, ConnectionState::Disconnected);
    EXPECT_EQ(h.rig.link.writeHandle, link::kNoHandle);
}

// --- Typed events --------------------------------------------------------

// The events of a station as words, runs of one kind collapsed into "xN".
class EventRecorder final : public StationObserver {
public:
    void OnStationEvent(const StationEvent& event) override {
        // How the programming bar moves is the job tests' business.
        if (std::holds_alternative<events::ProgramProgress>(event)) return;
        std::lock_guard<std::mutex> lock(mutex_);
        std::string word = StationEventName(event);
        if (const auto* identified = std::get_if<events::Identified>(&event)) {
            word += " " + identified->variant + " " + identified->version;
        } else if (const auto* refused = std::get_if<events::Refused>(&event)) {
            word += refused->refusal == Refusal::NoFirmwareNamed ? " no file" : " does not fit";
        } else if (const auto* finished = std::get_if<events::Finished>(&event)) {
            word += finished->report.Succeeded() ? " ok" : " failed";
            finished_ = finished->report;
        } else if (const auto* block = std::get_if<events::BlockSent>(&event)) {
            bytes_ += block->blockBytes;
            lastBlock_ = *block;
        }
        if (!words_.empty() && words_.back().first == word) {
            ++words_.back().second;
        } else {
            words_.emplace_back(word, 1);
        }
    }
    std::vector<std::string> Words() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        for (const auto& [word, count] : words_) {
            const bool counted = word == "erase step" || word == "block sent";
            out.push_back(counted ? word + " x" + std::to_string(count) : word);
        }
        return out;
    }
    std::uint64_t BytesInBlocks() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }
    events::BlockSent LastBlock() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastBlock_;
    }
    JobReport Finished() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, int>> words_;
    std::uint64_t bytes_ = 0;
    events::BlockSent lastBlock_;
    JobReport finished_;
};

struct EventCase {
    std::string name;
    std::string variant;  // the target's
    std::string file;     // "" names none
    bool validate;
    bool muteAfterEndOfData;
    std::vector<std::string> expected;  // "block sent" counted from the job
};

class StationEvents : public ::testing::TestWithParam<EventCase> {};

TEST_P(StationEvents, ComeInTheDocumentedOrder) {
    const EventCase& c = GetParam();
    MonitorHarness h(TargetOptions(c.variant, "1.5.0"));
    EventRecorder events;
    h.environment.observer = &events;
    if (!c.file.empty()) h.UseFirmware(c.file);
    h.settings.validateDevice = c.validate;
    h.settings.autoProgram = true;
    if (c.muteAfterEndOfData) h.rig.muting->MuteAfterCommand(packets::kEndOfData);
    h.Start();
    h.Pass(2);
    h.Stop();

    std::vector<std::string> expected = c.expected;
    for (std::string& word : expected) {
        if (word == "block sent") {
            ASSERT_EQ(h.jobs.size(), 1u);
            word += " x" + std::to_string(h.jobs[0].blocksSent);
        }
    }
    EXPECT_EQ(events.Words(), expected);
    // A refusal is the observer's to tell: the window shows no box of its own.
    for (const std::string& call : h.mainWindow.Calls()) {
        EXPECT_EQ(call.rfind("message:", 0), std::string::npos) << call;
    }
    if (!h.jobs.empty()) {
        const JobReport& report = h.jobs[0];
        EXPECT_EQ(events.BytesInBlocks(), report.bytesSent);
        EXPECT_EQ(events.LastBlock().blocksSent, report.blocksSent);
        EXPECT_EQ(events.Finished().blocksSent, report.blocksSent);
        EXPECT_EQ(events.Finished().bytesSent, report.bytesSent);
        EXPECT_EQ(events.Finished().blocksErased, report.blocksErased);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, StationEvents,
    ::testing::Values(EventCase{"Programmed",
                                "Bluetooth",
                                "Farsend_15_bt.hex",
                                true,
                                false,
                                {"searching", "connected", "identified Bluetooth 1.5.0",
                                 "job started", "erase step x3", "erase done", "block sent",
                                 "data ended", "finished ok", "disconnected"}},
                      EventCase{
                          "WithoutValidationNotIdentified",
                          "ZigBee",
                          "Farsend_15_bt.hex",
                          false,
                          false,
                          {"searching", "connected", "job started", "erase step x3", "erase done",
                           "block sent", "data ended", "finished ok", "disconnected"}},
                      EventCase{"AnotherVariantRefused",
                                "ZigBee",
                                "Farsend_15_bt.hex",
                                true,
                                false,
                                {"searching", "connected", "identified ZigBee 1.5.0",
                                 "refused does not fit", "disconnected"}},
                      EventCase{"NoFileRefusedUnasked",
                                "Bluetooth",
                                "",
                                true,
                                false,
                                {"searching", "connected", "refused no file", "disconnected"}},
                      EventCase{"SilentAtTheEndFails",
                                "Bluetooth",
                                "Farsend_15_bt.hex",
                                true,
                                true,
                                {"searching", "connected", "identified Bluetooth 1.5.0",
                                 "job started", "erase step x3", "erase done", "block sent",
                                 "job problem", "finished failed", "disconnected"}}),
    [](const ::testing::TestParamInfo<EventCase>& info) { return info.param.name; });

// A refusal says why: the query a silent target left unanswered, or what
// the target is beside what the file is for.
struct RefusalCase {
    std::string name;
    std::string variant;  // the target's
    std::string version;
    int muteAfter;  // the query after which the target falls silent; -1: none
    std::optional<events::TargetQuery> unanswered;
};

class RefusalReasons : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalReasons, NameTheSilentQueryOrBothIdentities) {
    const RefusalCase& c = GetParam();
    MonitorHarness h(TargetOptions(c.variant, c.version));
    struct Refusals final : StationObserver {
        void OnStationEvent(const StationEvent& event) override {
            if (const auto* refused = std::get_if<events::Refused>(&event))
                seen.push_back(*refused);
        }
        std::vector<events::Refused> seen;
    } refusals;
    h.environment.observer = &refusals;
    h.UseFirmware("Farsend_15_bt.hex");
    h.settings.validateDevice = true;
    h.settings.autoProgram = true;
    if (c.muteAfter >= 0) h.rig.muting->MuteAfterCommand(static_cast<uint8_t>(c.muteAfter));
    h.Start();
    h.Pass(2);
    h.Stop();

    ASSERT_EQ(refusals.seen.size(), 1u);
    const events::Refused& refused = refusals.seen[0];
    EXPECT_EQ(refused.refusal, Refusal::FirmwareDoesNotFit);
    EXPECT_EQ(refused.path, h.settings.firmwarePath.Get());
    EXPECT_EQ(refused.unanswered, c.unanswered);
    if (!c.unanswered) {
        EXPECT_EQ(refused.variant, c.variant);
        EXPECT_EQ(refused.version, c.version);
    }
    EXPECT_TRUE(refused.file.bluetooth);
    EXPECT_FALSE(refused.file.zigBee);
    EXPECT_EQ(refused.file.version, std::make_optional(std::make_pair(1, 5)));
    EXPECT_TRUE(h.jobs.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Targets, RefusalReasons,
    ::testing::Values(RefusalCase{"AnotherVariant", "ZigBee", "1.5.0", -1, std::nullopt},
                      RefusalCase{"AnotherVersion", "Bluetooth", "2.0.0", -1, std::nullopt},
                      RefusalCase{"SilentToTheVariantQuery", "Bluetooth", "1.5.0",
                                  packets::kQueryVariant, events::TargetQuery::Variant},
                      RefusalCase{"SilentToTheVersionQuery", "Bluetooth", "1.5.0",
                                  packets::kQueryVersion, events::TargetQuery::Version}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

// An observer that ends the wait for a target when it is told the monitor is
// searching (a deadline): no handshake begins, and the target hears nothing.
TEST(StationEvents, AStopWhileSearchingBeginsNoHandshake) {
    struct StopOnSearch final : StationObserver {
        explicit StopOnSearch(MonitorStop& stop) : stop(stop) {}
        void OnStationEvent(const StationEvent& event) override {
            words.push_back(StationEventName(event));
            if (std::holds_alternative<events::Searching>(event)) stop.Request();
        }
        MonitorStop& stop;
        std::vector<std::string> words;
    };
    MonitorHarness h(TargetOptions("Bluetooth", "1.5.0"));
    StopOnSearch observer(h.stop);
    h.environment.observer = &observer;
    h.settings.autoProgram = true;
    h.Start();
    h.gate.Grant(1);
    h.thread.join();
    EXPECT_EQ(observer.words, std::vector<std::string>{"searching"});
    EXPECT_TRUE(h.TargetCommands().empty());
    EXPECT_EQ(h.settings.connectionState, ConnectionState::NeverConnected);
}

// A socket held after a failed unit: its board calls, and the monitor
// listens without answering (no Ack reaches it) pass after pass, until the
// operator's retry; a socket whose board stopped calling is free again,
// with the event that says so.
TEST(SocketHold, AHeldSocketAnswersNoCallUntilItsBoardIsOutOrRetried) {
    struct Words final : StationObserver {
        void OnStationEvent(const StationEvent& event) override {
            if (!std::holds_alternative<events::Searching>(event)) {
                words.push_back(StationEventName(event));
            }
        }
        std::vector<std::string> words;
    };
    {
        MonitorHarness h(TargetOptions("Bluetooth", "1.5.0"));
        SocketHold hold;
        Words observer;
        hold.Hold();
        h.environment.hold = &hold;
        h.environment.observer = &observer;
        h.Start();
        h.Pass(4);  // each pass listens to the calling board for a window
        EXPECT_TRUE(h.TargetCommands().empty());
        EXPECT_TRUE(hold.Held());
        EXPECT_EQ(h.settings.connectionState, ConnectionState::NeverConnected);

        EXPECT_TRUE(hold.Retry());
        h.Pass(2);
        EXPECT_FALSE(hold.Held());
        EXPECT_EQ(h.settings.connectionState, ConnectionState::Connected);
        EXPECT_EQ(h.TargetCommands(), Codes{packets::kAck});
        EXPECT_EQ(observer.words, std::vector<std::string>{"connected"});
        EXPECT_FALSE(hold.Retry());  // nothing held: nothing to retry
    }
    {
        sim::SimOptions nobody = TargetOptions("Bluetooth", "1.5.0", 0);
        MonitorHarness h(nobody);
        SocketHold hold;
        Words observer;
        hold.Hold();
        h.environment.hold = &hold;
        h.environment.observer = &observer;
        h.Start();
        h.Pass(2);
        EXPECT_FALSE(hold.Held());
        EXPECT_EQ(observer.words, std::vector<std::string>{"board taken out"});
    }
}

TEST(Monitor, StopWakesAPausingMonitor) {
    MonitorHarness h(TargetOptions("Bluetooth", "1.5.0"));
    h.Start();
    h.Pass(1);
    h.Stop();  // held at the gate: only the stop can end the pause
    EXPECT_EQ(h.gate.Taken().back(), Millis(0));
}

// --- One monitor at a time --------------------------------------------------

// A main window whose connection text waits until the test lets it go, as a
// busy user-interface thread would.
class HeldMainWindow final : public app::MainWindowPort, public StationHost {
public:
    MessageAnswer ShowMessage(const Message&) override { return MessageAnswer::Ok; }
    void SendCommand(int) override {}
    void ProgramTarget() override {}
    void RefreshConnectionText() override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++entered_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
    }
    void WaitEntered() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return entered_ > 0; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int entered_ = 0;
    bool released_ = false;

public:
    app::WindowStationObserver observer{*this};
};

TEST(MonitorControl, RestartNeverWaitsAndTheNewMonitorStartsOnlyOnceTheOldHasEnded) {
    SimRig rig(TargetOptions("Bluetooth", "1.5.0"));
    app::ToolSettings settings;
    HeldMainWindow mainWindow;
    GatedClock gate;
    gate.SetFree(true);
    ConnectionMonitorControl control(
        {settings, settings, rig.exchanges, mainWindow, &gate, &mainWindow.observer});

    control.Start();
    mainWindow.WaitEntered();  // the first monitor connected and waits for the window
    const int askedBefore = gate.Asked();
    std::atomic<int> askedInBetween{-1};
    control.Start([&] { askedInBetween = gate.Asked(); });  // returns while the old one waits
    EXPECT_TRUE(control.Running());
    EXPECT_EQ(gate.Asked(), askedBefore);
    EXPECT_EQ(askedInBetween, -1);

    mainWindow.Release();
    // Wait until the new monitor is pausing between passes.
    while (gate.Asked() < askedBefore + 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    control.RequestStop();
    ASSERT_TRUE(control.WaitUntilStopped(Millis(60000)));

    // `between` ran after the old monitor's last pause, before the new one's
    // first; afterwards only the new thread paused.
    EXPECT_EQ(askedInBetween, askedBefore);
    const std::vector<std::thread::id> askers = gate.Askers();
    const std::thread::id newThread = askers[askedBefore];
    for (size_t i = 0; i < static_cast<size_t>(askedBefore); ++i) EXPECT_NE(askers[i], newThread);
    for (size_t i = askedBefore; i < askers.size(); ++i) EXPECT_EQ(askers[i], newThread);
    // One handshake in all: the new monitor found the target connected.
    EXPECT_EQ(rig.CommandCodes(), Codes{packets::kAck});
    EXPECT_FALSE(control.Running());
    EXPECT_FALSE(settings.monitorRunning);
}

TEST(MonitorControl, StartsInQuickSuccessionLeaveExactlyOneMonitor) {
    SimRig rig(TargetOptions("Bluetooth", "1.5.0"));
    app::ToolSettings settings;
    RecordingMainWindow mainWindow(settings);
    GatedClock gate;
    ConnectionMonitorControl control(
        {settings, settings, rig.exchanges, mainWindow, &gate, &mainWindow.observer});
    for (int i = 0; i < 5; ++i) control.Start();
    gate.Grant(3);
    ASSERT_TRUE(gate.WaitPassed(3));
    // Earlier monitors were stopped before or in their first pause: every
    // pause that ran out, and so every pass, was the last monitor's.
    const std::vector<std::thread::id> passed = gate.Passed();
    ASSERT_EQ(passed.size(), 3u);
    for (const std::thread::id& thread : passed) EXPECT_EQ(thread, passed.front());
    EXPECT_EQ(rig.CommandCodes(), Codes{packets::kAck});
    EXPECT_TRUE(settings.monitorRunning);
    control.RequestStop();
    ASSERT_TRUE(control.WaitUntilStopped(Millis(60000)));
    EXPECT_FALSE(settings.monitorRunning);
}

TEST(MonitorControl, StoppingFromTheWindowThreadWhileTheMonitorWaitsForItDoesNotDeadlock) {
    // The monitor is inside its blocking 610 when the window thread stops it:
    // the window thread waits in short slices and handles what is sent.
    SimRig rig(TargetOptions("Bluetooth", "1.5.0"));
    TempDirectory directory;
    app::ToolSettings settings;
    settings.autoProgram = true;
    settings.validateDevice = false;
    const std::filesystem::path image = directory.path() / "Farsend_15_bt.hex";
    farsend::testing::WriteText(image, "00004000\n01 02 03\n");
    settings.firmwarePath.Set(image.string());

    UiThread ui;
    std::atomic<bool> sending{false};
    std::atomic<bool> handled{false};
    RecordingMainWindow mainWindow(settings);
    mainWindow.onCommand = [&](int command) {
        sending = true;
        ui.Send([&, command] {
            if (command == app::kCommandProgramNow) handled = true;
        });
    };
    GatedClock gate;
    gate.SetFree(true);
    {
        ConnectionMonitorControl control(
            {settings, settings, rig.exchanges, mainWindow, &gate, &mainWindow.observer});
        control.Start();
        // The window thread is busy until the monitor is inside its send.
        while (!sending) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(control.Stop([&] { ui.ProcessPending(); }, Millis(5)));
        EXPECT_FALSE(control.Running());
    }
    EXPECT_TRUE(handled);
    EXPECT_EQ(mainWindow.Commands().front(), app::kCommandProgramNow);
    EXPECT_EQ(settings.connectionState, ConnectionState::Disconnected);
}

}  // namespace
}  // namespace farsend::jobs

// The main window's commands: first each on its own against a recording
// shell, then end to end through a stand-in user-interface thread, with the
// connection monitor, the job threads, the real exchanges and link and the
// simulated target.
#include "app/commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/command_ids.h"
#include "app/job_window.h"
#include "app/window_texts.h"
#include "jobs/job_test_support.h"
#include "jobs/job_workers.h"
#include "jobs/ui_thread.h"
#include "protocol/exchanges.h"
#include "recording_view.h"
#include "support/temp_directory.h"

namespace farsend::app {
namespace {

using farsend::testing::GatedClock;
using farsend::testing::PatternRun;
using farsend::testing::RecordingMainWindow;
using farsend::testing::SimRig;
using farsend::testing::TempDirectory;
using farsend::testing::UiThread;
using jobs::JobKind;
using jobs::Message;
using jobs::MessageAnswer;
using jobs::MessageStyle;
namespace packets = sim::packets;
using Calls = std::vector<std::string>;

const Message kNotConnectedProgram{"Target Not Connected.", "Program Target Flash Error",
                                   MessageStyle::Warning};
const Message kInvalidFile{"Invalid file type.", "Invalid File", MessageStyle::Warning};

class RecordingShell final : public ShellPort {
public:
    MessageAnswer ShowMessage(const Message& message) override {
        messages.push_back(message);
        return answer;
    }
    std::optional<std::string> ChooseFirmwareFile(const OpenFileRequest& request) override {
        requests.push_back(request);
        return chosen;
    }
    void RunJobDialog(JobKind kind, const std::string& path) override {
        dialogs.push_back(kind);
        paths.push_back(path);
        if (onDialog) onDialog(kind);
    }
    void EndMessageLoop(int exitCode) override { loopEnded.push_back(exitCode); }
    void EndProcess(int exitCode) override { processEnded.push_back(exitCode); }

    MessageAnswer answer = MessageAnswer::Ok;
    std::function<void(JobKind)> onDialog;
    std::optional<std::string> chosen;
    std::vector<Message> messages;
    std::vector<OpenFileRequest> requests;
    std::vector<JobKind> dialogs;
    std::vector<std::string> paths;  // what each job dialog was given to program
    std::vector<int> loopEnded;
    std::vector<int> processEnded;
};

// A shell and a main window without a target: the link has no platform, so
// every exchange finds it closed and the monitor never connects.
class Commands : public ::testing::Test {
protected:
    Commands() {
        settings.view = &view;
        settings.firmwareDirectory.Set("/firmware");
    }
    ~Commands() override { monitor.Stop(); }

    void Connected() { settings.connectionState = ConnectionState::Connected; }

    ToolSettings settings;
    RecordingView view;
    RecordingShell shell;
    link::HidSerialLink link;
    protocol::ExchangeContext exchanges{link};
    RecordingMainWindow mainWindow{settings};
    GatedClock gate;
    jobs::ConnectionMonitorControl monitor{
        {settings, settings, exchanges, mainWindow, &gate, &mainWindow.observer}};
    CommandContext context{settings, settings, exchanges, shell, monitor, &settings.view};
};

// --- Program now (610) -----------------------------------------------------

TEST_F(Commands, ProgramWhileNotConnectedWarnsAndStaysAvailable) {
    ProgramNow(context);
    EXPECT_EQ(shell.messages, std::vector<Message>{kNotConnectedProgram});
    EXPECT_FALSE(settings.programmingBusy);
    EXPECT_TRUE(shell.dialogs.empty());

    Connected();
    settings.firmwarePath.Set("/firmware/Farsend_15_bt.hex");
    ProgramNow(context);
    EXPECT_EQ(shell.dialogs, std::vector<JobKind>{JobKind::ProgramApplication});
}

TEST_F(Commands, ProgramWhileBusyDoesNothing) {
    Connected();
    settings.programmingBusy = true;
    ProgramNow(context);
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_TRUE(shell.dialogs.empty());
    EXPECT_TRUE(shell.requests.empty());
}

TEST_F(Commands, ProgramWithAChosenFileOpensTheDialogOfTheModeUnchecked) {
    Connected();
    // Already chosen files are not classified again here.
    settings.firmwarePath.Set("/firmware/anything.hex");
    settings.flashMode = FlashMode::BootloaderAndApplication;
    ProgramNow(context);
    EXPECT_EQ(shell.dialogs, std::vector<JobKind>{JobKind::ProgramBootloaderAndApplication});
    EXPECT_TRUE(settings.programmingBusy);  // the job clears it
    EXPECT_TRUE(shell.requests.empty());
}

TEST_F(Commands, ProgramWithoutAFileAsksAndACancelLeavesNothingBehind) {
    Connected();
    ProgramNow(context);
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].title, "Open Hex File");
    EXPECT_EQ(shell.requests[0].filterName, "Hex Files");
    EXPECT_EQ(shell.requests[0].filterPattern, "*.hex");
    EXPECT_EQ(shell.requests[0].initialDirectory, "/firmware");
    EXPECT_TRUE(shell.requests[0].mustExist);
    EXPECT_FALSE(settings.programmingBusy);
    EXPECT_TRUE(shell.dialogs.empty());
    ProgramNow(context);
    EXPECT_EQ(shell.requests.size(), 2u);
}

struct ChoiceCase {
    std::string name;
    FlashMode mode;
    std::string file;
    bool accepted;
};

class ChosenFile : public Commands, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(ChosenFile, IsAcceptedOnlyWhenItFitsTheMode) {
    const ChoiceCase& c = GetParam();
    Connected();
    settings.flashMode = c.mode;
    shell.chosen = "/firmware/" + c.file;

    ProgramNow(context);

    if (c.accepted) {
        EXPECT_TRUE(shell.messages.empty());
        EXPECT_EQ(settings.firmwarePath.Get(), "/firmware/" + c.file);
        EXPECT_EQ(view.Calls().back(), "status1:" + c.file);
        ASSERT_EQ(shell.dialogs.size(), 1u);
        EXPECT_EQ(shell.dialogs[0], c.mode == FlashMode::Application
                                        ? JobKind::ProgramApplication
                                        : JobKind::ProgramBootloaderAndApplication);
        EXPECT_TRUE(settings.programmingBusy);
    } else {
        EXPECT_EQ(shell.messages, std::vector<Message>{kInvalidFile});
        EXPECT_TRUE(shell.dialogs.empty());
        EXPECT_FALSE(settings.programmingBusy);
        // The refused path does not stay to be programmed unchecked.
        EXPECT_TRUE(settings.firmwarePath.Empty());
        EXPECT_EQ(view.Calls().back(), "status1:");
        // So the next Program command asks again.
        shell.chosen.reset();
        ProgramNow(context);
        EXPECT_EQ(shell.requests.size(), 2u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ChosenFile,
    ::testing::Values(
        ChoiceCase{"ApplicationImage", FlashMode::Application, "Farsend_15_bt.hex", true},
        ChoiceCase{"ZigBeeApplicationImage", FlashMode::Application, "Farsend_20_802.hex", true},
        ChoiceCase{"FactoryImageInApplicationMode", FlashMode::Application, "Farsend_15_bt_f.hex",
                   false},
        ChoiceCase{"FactoryImage", FlashMode::BootloaderAndApplication, "Farsend_15_bt_f.hex",
                   true},
        ChoiceCase{"ApplicationImageInFactoryMode", FlashMode::BootloaderAndApplication,
                   "Farsend_15_bt.hex", false},
        ChoiceCase{"IntelMarker", FlashMode::Application, "Farsend_15_bt_intel.hex", false},
        ChoiceCase{"IntelFactory", FlashMode::BootloaderAndApplication, "Farsend_15_bt_intel_f.hex",
                   false},
        ChoiceCase{"NoVariantMarker", FlashMode::Application, "Farsend_15.hex", false}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

// --- Erase (612) -------------------------------------------------------------

TEST_F(Commands, EraseFollowsTheModeAndTheWarning) {
    EraseTargetFlash(context);
    EraseTargetFlash(context);  // shown each time
    EXPECT_EQ(shell.messages,
              (std::vector<Message>(2, {"Target Not Connected.", "Erase Target Flash Error",
                                        MessageStyle::Warning})));
    shell.messages.clear();

    Connected();
    EraseTargetFlash(context);
    EXPECT_EQ(shell.dialogs, std::vector<JobKind>{JobKind::EraseDefault});
    EXPECT_TRUE(settings.erasingBusy);
    EraseTargetFlash(context);  // busy: nothing
    EXPECT_EQ(shell.dialogs.size(), 1u);
    EXPECT_TRUE(shell.messages.empty());

    settings.erasingBusy = false;
    settings.flashMode = FlashMode::BootloaderAndApplication;
    shell.answer = MessageAnswer::Cancel;
    EraseTargetFlash(context);
    EXPECT_EQ(shell.dialogs.size(), 1u);
    EXPECT_FALSE(settings.erasingBusy);
    shell.answer = MessageAnswer::Ok;
    EraseTargetFlash(context);
    EXPECT_EQ(shell.dialogs.back(), JobKind::EraseAll);
    ASSERT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(shell.messages[0], EraseAllWarning());
    EXPECT_EQ(shell.messages[1].text,
              "About to Erase ALL of the target flash (incl. Bootloader).\nPlease ensure that a "
              "new Bootloader is programmed before \nterminating communication with the target. "
              "Failure to do so \nwill prevent future communication with the target.");
    EXPECT_EQ(shell.messages[1].caption, "Warning");
    EXPECT_EQ(shell.messages[1].style, MessageStyle::WarningOkCancel);
}

// The monitor's programming attempt keeps the window's state at Connected
// while it queries, programs and pauses; an erase or launch given then would
// interleave its packets with the attempt's.
struct LinkHolderCase {
    const char* what;
    FlashMode mode;
    void (*command)(CommandContext&);
    bool opensDialog;
};

class WhileTheMonitorHasTheLink : public Commands,
                                  public ::testing::WithParamInterface<LinkHolderCase> {};

TEST_P(WhileTheMonitorHasTheLink, TheCommandIsIgnoredAndWorksAfterwards) {
    Connected();
    settings.flashMode = GetParam().mode;
    {
        const LinkClaim attempt(settings.linkUser, LinkUser::Monitor);
        ASSERT_TRUE(attempt.Held());
        GetParam().command(context);
        EXPECT_TRUE(shell.dialogs.empty());
        EXPECT_TRUE(shell.messages.empty());  // not even the erase-all warning
        EXPECT_FALSE(settings.erasingBusy);
        EXPECT_EQ(settings.connectionState, ConnectionState::Connected);
        EXPECT_EQ(settings.linkUser, LinkUser::Monitor);
    }
    // The link is the operator's for as long as the job dialog is open.
    std::vector<LinkUser> holderDuringDialog;
    shell.onDialog = [&](JobKind) { holderDuringDialog.push_back(settings.linkUser); };
    GetParam().command(context);
    if (GetParam().opensDialog) {
        EXPECT_EQ(holderDuringDialog, std::vector<LinkUser>{LinkUser::Operator});
    } else {
        EXPECT_TRUE(shell.dialogs.empty());
        EXPECT_EQ(settings.connectionState, ConnectionState::Disconnected);
    }
    EXPECT_EQ(settings.linkUser, LinkUser::None);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, WhileTheMonitorHasTheLink,
    ::testing::Values(
        LinkHolderCase{"erase", FlashMode::Application, EraseTargetFlash, true},
        LinkHolderCase{"erase all", FlashMode::BootloaderAndApplication, EraseTargetFlash, true},
        LinkHolderCase{"launch", FlashMode::Application, StartTargetApplication, false}),
    [](const ::testing::TestParamInfo<LinkHolderCase>& info) {
        std::string name = info.param.what;
        for (char& c : name) {
            if (c == ' ') c = '_';
        }
        return name;
    });

// --- State commands ------------------------------------------------------------

TEST_F(Commands, StartApplicationNeedsAConnectedTarget) {
    StartTargetApplication(context);
    EXPECT_EQ(shell.messages,
              (std::vector<Message>{{"Target Not Connected.", "Launch Target Application Error",
                                     MessageStyle::Warning}}));
    EXPECT_EQ(settings.connectionState, ConnectionState::NeverConnected);
    Connected();
    StartTargetApplication(context);
    EXPECT_EQ(settings.connectionState, ConnectionState::Disconnected);
    EXPECT_EQ(view.Calls().back(), "status0:NOT CONNECTED");
}

TEST_F(Commands, ConnectDependsOnTheState) {
    ConnectToTarget(context);  // never connected: the first monitor is trying
    EXPECT_FALSE(monitor.Running());
    EXPECT_EQ(view.Calls(), Calls{"status0:NOT CONNECTED"});

    Connected();
    ConnectToTarget(context);
    EXPECT_EQ(shell.messages, (std::vector<Message>{{"Already connected to target",
                                                     "Connect to Target", MessageStyle::Notice}}));
    EXPECT_FALSE(monitor.Running());

    settings.connectionState = ConnectionState::Disconnected;
    ConnectToTarget(context);
    EXPECT_TRUE(monitor.Running());
    EXPECT_EQ(view.Calls().back(), "status0:NOT CONNECTED");
    ConnectToTarget(context);  // a restart, never a second monitor beside the first
    EXPECT_TRUE(monitor.Stop());
}

TEST_F(Commands, JobReportsAndTheRequest) {
    Connected();
    EXPECT_TRUE(HandleMainWindowCommand(context, kCommandProgrammingFinished));
    EXPECT_EQ(settings.connectionState, ConnectionState::Disconnected);
    Connected();
    EXPECT_TRUE(HandleMainWindowCommand(context, kCommandCommunicationFailure));
    EXPECT_EQ(settings.connectionState, ConnectionState::Disconnected);
    EXPECT_EQ(view.Calls(), (Calls{"status0:NOT CONNECTED", "status0:NOT CONNECTED"}));

    EXPECT_TRUE(HandleMainWindowCommand(context, kCommandRequestProgramming));
    EXPECT_EQ(settings.programRequest, ProgramRequest::Requested);
    EXPECT_TRUE(HandleMainWindowCommand(context, kCommandEndProcess));
    EXPECT_EQ(shell.processEnded, std::vector<int>{0});
    EXPECT_TRUE(shell.loopEnded.empty());
}

TEST_F(Commands, ShellCommandsAndUnknownIdsAreNotHandledHere) {
    for (int id : {611, 616, 620, 621, 622, 630, 640, 670, 681, 1002}) {
        EXPECT_FALSE(HandleMainWindowCommand(context, id)) << id;
    }
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_TRUE(view.Calls().empty());
}

// --- Against the simulated target ----------------------------------------------

TEST(CommandsOnTarget, ExitLetsAConnectedTargetStartItsApplication) {
    SimRig rig;
    ToolSettings settings;
    RecordingShell shell;
    RecordingMainWindow mainWindow(settings);
    GatedClock gate;
    jobs::ConnectionMonitorControl monitor(
        {settings, settings, rig.exchanges, mainWindow, &gate, &mainWindow.observer});
    CommandContext context{settings, settings, rig.exchanges, shell, monitor};

    ExitApplication(context);  // not connected: nothing is sent
    EXPECT_EQ(shell.loopEnded, std::vector<int>{0});
    EXPECT_TRUE(rig.CommandCodes().empty());

    ASSERT_EQ(protocol::ConnectTarget(rig.exchanges), protocol::ExchangeResult::Ok);
    settings.connectionState = ConnectionState::Connected;
    EXPECT_TRUE(HandleMainWindowCommand(context, kCommandExit));
    EXPECT_EQ(rig.CommandCodes(),
              (std::vector<uint8_t>{packets::kAck, packets::kStartApplication}));
    EXPECT_EQ(rig.link.writeHandle, link::kNoHandle);
    EXPECT_EQ(shell.loopEnded, (std::vector<int>{0, 0}));
}

// The Win32 shell in miniature: commands run on the user-interface thread;
// the monitor and the jobs reach it by blocking sends; a job dialog opens
// modally and ends when its worker ends it.
class Application {
public:
    explicit Application(const sim::SimOptions& options) : rig(options) { settings.view = &view; }
    ~Application() {
        monitor.Stop([this] { ui.ProcessPending(); });
        // Each has ended its dialog, its last send: the joins are immediate.
        for (std::thread& worker : workers) worker.join();
    }

    void UseFirmware(const std::string& name) {
        const std::filesystem::path path = directory.path() / name;
        farsend::testing::WriteImageOfSize(path, image, sim::FormatImage(image).size());
        settings.firmwarePath.Set(path.string());
    }
    // On the user-interface thread: handles what is sent until the monitor
    // has asked for `pauses` pauses and waits at the gate.
    void RunUntilPaused(int pauses) {
        ui.RunUntil([&] { return gate.Held(pauses); });
    }
    void Command(int id) { HandleMainWindowCommand(context, id); }

    std::vector<Message> WindowMessages() {
        std::lock_guard<std::mutex> lock(mutex);
        return windowMessages;
    }

    // A job dialog: what its commands do to its bars, the boxes it owns,
    // and (told after the window's own handling) the job's blocks and
    // report.
    class Dialog final : public JobDialogPort, public jobs::StationObserver {
    public:
        void SendDialogCommand(int command) override {
            if (command == kDialogCommandStepErase) ++eraseSteps;
            if (command == kDialogCommandStepProgram) ++programSteps;
        }
        void ShowMessage(const Message& message) override { messages.push_back(message); }
        void OnStationEvent(const jobs::StationEvent& event) override {
            if (const auto* block = std::get_if<jobs::events::BlockSent>(&event)) {
                bytesSent += block->blockBytes;
            } else if (const auto* finished = std::get_if<jobs::events::Finished>(&event)) {
                reports.push_back(finished->report);
                ended = true;
            }
        }
        std::atomic<int> eraseSteps{0};
        std::atomic<int> programSteps{0};
        std::atomic<size_t> bytesSent{0};
        std::vector<Message> messages;
        std::vector<jobs::JobReport> reports;
        std::atomic<bool> ended{false};
    };

    class Shell final : public ShellPort {
    public:
        explicit Shell(Application& app) : app_(app) {}
        MessageAnswer ShowMessage(const Message& message) override {
            std::lock_guard<std::mutex> lock(app_.mutex);
            app_.windowMessages.push_back(message);
            return MessageAnswer::Ok;
        }
        std::optional<std::string> ChooseFirmwareFile(const OpenFileRequest&) override {
            return std::nullopt;
        }
        void RunJobDialog(JobKind kind, const std::string& path) override {
            auto dialog = std::make_shared<Dialog>();
            app_.dialogs.push_back(dialog);
            app_.workers.emplace_back([this, dialog, kind, path] {
                JobWindow window(*dialog, app_.mainWindow, dialog.get());
                jobs::RunJobWorker(kind, path, {app_.settings, app_.rig.exchanges, &window});
            });
            app_.ui.RunUntil([&] { return dialog->ended.load(); });
        }
        void EndMessageLoop(int) override {}
        void EndProcess(int) override {}

    private:
        Application& app_;
    };

    class MainWindow final : public MainWindowPort, public jobs::StationHost {
    public:
        explicit MainWindow(Application& app) : app_(app) {}
        MessageAnswer ShowMessage(const Message& message) override {
            std::lock_guard<std::mutex> lock(app_.mutex);
            app_.windowMessages.push_back(message);
            return MessageAnswer::Ok;
        }
        void SendCommand(int command) override {
            app_.ui.Send([this, command] { app_.Command(command); });
        }
        void RefreshConnectionText() override {
            app_.ui.Send([this] { app::RefreshConnectionText(app_.settings); });
        }
        void ProgramTarget() override { host_.ProgramTarget(); }

        WindowStationObserver observer{*this};

    private:
        Application& app_;
        MainWindowHost host_{*this};
    };

    SimRig rig;
    TempDirectory directory;
    std::vector<sim::ImageRun> image = {PatternRun(0x4000, 900)};
    ToolSettings settings;
    RecordingView view;
    UiThread ui;
    std::mutex mutex;
    std::vector<Message> windowMessages;
    std::vector<std::shared_ptr<Dialog>> dialogs;
    Shell shell{*this};
    MainWindow mainWindow{*this};
    GatedClock gate;
    jobs::ConnectionMonitorControl monitor{
        {settings, settings, rig.exchanges, mainWindow, &gate, &mainWindow.observer}};
    std::vector<std::thread> workers;  // one per job, each on its own thread
    CommandContext context{settings, settings, rig.exchanges, shell, monitor, &settings.view};
};

TEST(Application, AutoProgramWithValidationPassing) {
    Application app(SimRig::DefaultOptions());
    app.UseFirmware("Farsend_15_bt.hex");
    app.settings.autoProgram = true;
    app.monitor.Start();
    app.gate.Grant(2);
    app.RunUntilPaused(3);

    EXPECT_EQ(app.rig.simulation->Target().TargetsProgrammed(), 1u);
    EXPECT_EQ(app.rig.simulation->Target().Flash(), farsend::testing::ContentsOf(app.image));
    ASSERT_EQ(app.dialogs.size(), 1u);
    const Application::Dialog& dialog = *app.dialogs[0];
    EXPECT_EQ(dialog.eraseSteps, 20);
    EXPECT_EQ(dialog.bytesSent, 900u);
    ASSERT_EQ(dialog.reports.size(), 1u);
    EXPECT_TRUE(dialog.reports[0].Succeeded());
    EXPECT_TRUE(app.WindowMessages().empty());
    EXPECT_FALSE(app.settings.programmingBusy);
    EXPECT_EQ(app.settings.connectionState, ConnectionState::Disconnected);
    EXPECT_EQ(app.view.Calls(),
              (Calls{"status0:CONNECTED", "status0:NOT CONNECTED", "status0:NOT CONNECTED"}));
    const std::vector<uint8_t> codes = app.rig.CommandCodes();
    EXPECT_EQ(std::vector<uint8_t>(codes.begin(), codes.begin() + 4),
              (std::vector<uint8_t>{packets::kAck, packets::kQueryVariant, packets::kQueryVersion,
                                    packets::kProgramApplication}));
}

TEST(Application, ProgramRequestWhileDisconnectedThenATargetArrives) {
    sim::SimOptions options = SimRig::DefaultOptions();
    options.targets = 2;
    Application app(options);
    app.UseFirmware("Farsend_15_bt.hex");
    app.monitor.Start();
    app.gate.Grant(1);
    app.RunUntilPaused(2);  // connected, nothing wanted
    ASSERT_EQ(app.settings.connectionState, ConnectionState::Connected);

    app.Command(kCommandStartApplication);  // the first target leaves
    EXPECT_EQ(app.settings.connectionState, ConnectionState::Disconnected);
    app.Command(kCommandRequestProgramming);  // Ctrl+P while disconnected
    EXPECT_EQ(app.settings.programRequest, ProgramRequest::Requested);

    app.gate.Grant(2);
    app.RunUntilPaused(4);

    const sim::SimulatedTarget& target = app.rig.simulation->Target();
    EXPECT_EQ(target.TargetsArrived(), 2u);
    EXPECT_EQ(target.TargetsProgrammed(), 1u);
    EXPECT_EQ(target.Commands().back().target, 2u);
    EXPECT_EQ(target.Commands().back().code, packets::kEndOfData);
    EXPECT_EQ(app.settings.programRequest, ProgramRequest::None);
    ASSERT_EQ(app.dialogs.size(), 1u);
    EXPECT_TRUE(app.dialogs[0]->reports[0].Succeeded());
}

TEST(Application, EraseFromTheWindowWhileTheMonitorIdles) {
    // The monitor keeps passing (free gate) while the erase job and the link's
    // reader run: the three threads side by side, as ThreadSanitizer sees them.
    sim::SimOptions options = SimRig::DefaultOptions();
    options.erase_blocks = 7;
    Application app(options);
    app.monitor.Start();
    app.gate.Grant(1);
    app.RunUntilPaused(2);
    ASSERT_EQ(app.settings.connectionState, ConnectionState::Connected);
    app.gate.SetFree(true);

    for (int round = 0; round < 3; ++round) {
        app.Command(kCommandEraseTarget);
        ASSERT_EQ(app.dialogs.size(), static_cast<size_t>(round + 1));
        EXPECT_EQ(app.dialogs[round]->eraseSteps, 20);
        EXPECT_EQ(app.dialogs[round]->reports[0].blocksErased, 7u);
        EXPECT_FALSE(app.settings.erasingBusy);
    }
    EXPECT_EQ(app.settings.connectionState, ConnectionState::Connected);
}

}  // namespace
}  // namespace farsend::app

namespace farsend::app {
namespace {

// --- What a job is given to program ---------------------------------------

struct JobPathCase {
    const char* name;
    const char* chosen;                 // the choice's firmwarePath
    const char* checked;                // the station's attemptPath (the monitor's attempt)
    std::optional<std::string> picked;  // the Open dialog's answer
    const char* expected;               // handed to the job; null: no job
};

class JobPath : public Commands, public ::testing::WithParamInterface<JobPathCase> {};

TEST_P(JobPath, IsTheCheckedFileElseTheChosenOneElseThePickedOne) {
    const JobPathCase& c = GetParam();
    Connected();
    settings.firmwarePath.Set(c.chosen);
    settings.attemptPath.Set(c.checked);
    shell.chosen = c.picked;

    ProgramNow(context);

    if (c.expected == nullptr) {
        EXPECT_TRUE(shell.paths.empty());
    } else {
        EXPECT_EQ(shell.paths, std::vector<std::string>{c.expected});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, JobPath,
    ::testing::Values(
        JobPathCase{"Chosen", "/f/Farsend_15_bt.hex", "", std::nullopt, "/f/Farsend_15_bt.hex"},
        // The operator chose another file while the checking queries ran.
        JobPathCase{"CheckedWins", "/f/Farsend_20_bt.hex", "/f/Farsend_15_bt.hex", std::nullopt,
                    "/f/Farsend_15_bt.hex"},
        JobPathCase{"PickedWhenNoneChosen", "", "", std::string("/f/Farsend_20_802.hex"),
                    "/f/Farsend_20_802.hex"},
        JobPathCase{"PickedButRefused", "", "", std::string("/f/Farsend_20.hex"), nullptr},
        JobPathCase{"NoneAndCancelled", "", "", std::nullopt, nullptr}),
    [](const ::testing::TestParamInfo<JobPathCase>& info) { return info.param.name; });

// Two stations share the choice but never each other's attempt: each job
// programs what its own monitor checked.
TEST(CommandsOnTwoStations, EachJobProgramsWhatItsOwnStationChecked) {
    jobs::FirmwareChoice choice;
    choice.firmwarePath.Set("/f/Farsend_20_bt.hex");
    link::HidSerialLink link;
    protocol::ExchangeContext exchanges{link};
    RecordingShell shell;
    struct Station {
        jobs::StationState state;
    } a, b;
    ToolSettings unused;
    RecordingMainWindow mainWindow{unused};
    GatedClock gate;
    jobs::ConnectionMonitorControl monitorA{
        {choice, a.state, exchanges, mainWindow, &gate, &mainWindow.observer}};
    jobs::ConnectionMonitorControl monitorB{
        {choice, b.state, exchanges, mainWindow, &gate, &mainWindow.observer}};
    CommandContext contextA{choice, a.state, exchanges, shell, monitorA};
    CommandContext contextB{choice, b.state, exchanges, shell, monitorB};
    a.state.connectionState = ConnectionState::Connected;
    b.state.connectionState = ConnectionState::Connected;
    a.state.attemptPath.Set("/f/Farsend_15_bt.hex");

    ProgramNow(contextB);
    ProgramNow(contextA);

    EXPECT_EQ(shell.paths,
              (std::vector<std::string>{"/f/Farsend_20_bt.hex", "/f/Farsend_15_bt.hex"}));
    EXPECT_TRUE(a.state.programmingBusy);
    EXPECT_TRUE(b.state.programmingBusy);
}

// --- The window program's end after a job ------------------------------------

struct AfterJobCase {
    JobKind kind;
    jobs::JobOutcome outcome;
    bool exitAfterProgram;
    bool endsProcess;
};

TEST(AfterJob, OnlyAProgrammedTargetEndsTheProcessAndOnlyWhenAsked) {
    using jobs::JobOutcome;
    const std::vector<AfterJobCase> cases = {
        {JobKind::ProgramApplication, JobOutcome::Success, true, true},
        {JobKind::ProgramBootloaderAndApplication, JobOutcome::Success, true, true},
        {JobKind::ProgramApplication, JobOutcome::Success, false, false},
        {JobKind::ProgramApplication, JobOutcome::CommunicationError, true, false},
        {JobKind::ProgramApplication, JobOutcome::EraseError, true, false},
        {JobKind::ProgramApplication, JobOutcome::FileOpenFailed, true, false},
        {JobKind::ProgramBootloaderAndApplication, JobOutcome::FileFormatError, true, false},
        {JobKind::EraseDefault, JobOutcome::Success, true, false},
        {JobKind::EraseAll, JobOutcome::Success, true, false},
    };
    for (const AfterJobCase& c : cases) {
        jobs::JobReport report;
        report.kind = c.kind;
        report.outcome = c.outcome;
        EXPECT_EQ(EndsProcessAfterJob(report, c.exitAfterProgram), c.endsProcess)
            << static_cast<int>(c.kind) << " " << static_cast<int>(c.outcome) << " "
            << c.exitAfterProgram;
    }
}

}  // namespace
}  // namespace farsend::app

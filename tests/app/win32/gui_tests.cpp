// farsend-flasher.exe driven through its real windows under Wine: the
// simulated target behind --simulate, the test hook for what cannot be read
// from outside, screenshots for the eye.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gui_driver.h"
#include "protocol/image_reader.h"
#include "protocol/packets.h"
#include "resources/resource_ids.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::gui_test {
namespace {

using farsend::testing::TempDirectory;
namespace fs = std::filesystem;

constexpr DWORD kProgrammingTimeoutMs = 120000;

std::string Text(const fs::path& path) {
    return path.string();
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void Append(std::vector<uint8_t>& bytes, protocol::Command command) {
    for (uint32_t element : protocol::GetCommandPacket(command)) {
        bytes.push_back(static_cast<uint8_t>(element));
    }
}

std::vector<uint8_t> Commands(std::initializer_list<protocol::Command> commands) {
    std::vector<uint8_t> bytes;
    for (protocol::Command command : commands) Append(bytes, command);
    return bytes;
}

// Screenshots go beside the build's other artifacts (a Unix path: import is
// a Unix program).
std::string ArtifactPath(const std::string& name) {
    const std::string directory = FARSEND_GUI_ARTIFACT_DIR;
    fs::create_directories(WindowsPath(directory));
    return directory + "/" + name;
}

void TakeScreenshot(const std::string& name) {
    const std::string path = ArtifactPath(name);
    EXPECT_TRUE(Screenshot(path)) << path;
    EXPECT_TRUE(fs::exists(WindowsPath(path))) << path;
}

// What the target receives for one validated application run: the
// handshake, the two validation queries, the programming command, every
// block behind its BlockFollows, the end of data; nothing else.
std::vector<uint8_t> ProgrammingStream(const std::string& image) {
    const auto plan = protocol::PlanProgrammingFile(image);
    if (!plan || !plan->endsWithEndOfData) return {};
    using protocol::Command;
    std::vector<uint8_t> expected = Commands(
        {Command::Ack, Command::QueryVariant, Command::QueryVersion, Command::ProgramApplication});
    for (const protocol::FlashBlock& block : plan->blocks) {
        Append(expected, Command::BlockFollows);
        const protocol::FlashBlockBytes wire = protocol::SerializeFlashBlock(block);
        expected.insert(expected.end(), wire.begin(), wire.end());
    }
    Append(expected, Command::EndOfData);
    return expected;
}

// The firmware directory with the whole sample set.
class SampleDirectory {
public:
    SampleDirectory() {
        std::string error;
        EXPECT_TRUE(sim::WriteSampleSet(dir_.path() / "fw", &error)) << error;
    }
    std::string Directory() const { return Text(dir_.path() / "fw"); }
    std::string File(const std::string& name) const { return Text(dir_.path() / "fw" / name); }
    std::string Scratch(const std::string& name) const { return Text(dir_.path() / name); }
    const TempDirectory& Temp() const { return dir_; }

private:
    TempDirectory dir_;
};

// --- The production line's run: program one target and end ---

TEST(GuiAutoprogramExit, ProgramsTheSimulatedTargetAndEndsWithExitCodeZero) {
    SampleDirectory samples;
    const std::string image = samples.File("Farsend_15_bt.hex");
    const std::string log = samples.Scratch("serial.log");

    Flasher flasher({"--simulate", "--sim-serial-log=" + log, "autoprogram", "exit", image});
    ASSERT_TRUE(flasher.Started());
    ASSERT_EQ(flasher.WaitForExit(kProgrammingTimeoutMs), 0);

    const std::vector<uint8_t> expected = ProgrammingStream(image);
    ASSERT_GT(expected.size(), 100u * protocol::kFlashBlockWireSize);
    const std::vector<uint8_t> received = ReadBytes(log);
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "the serial log differs from the expected byte stream";
}

// --- Commands that need a target, with none (no bridge under Wine) ---

struct NotConnectedCase {
    int command;
    const char* caption;
};

class GuiNotConnected : public ::testing::TestWithParam<NotConnectedCase> {};

TEST_P(GuiNotConnected, EachTimeTheCommandIsGivenItSaysSoAndChangesNothing) {
    SampleDirectory samples;
    Flasher flasher({samples.Directory()});
    ASSERT_TRUE(flasher.Started());
    ASSERT_TRUE(flasher.WaitForState("status0", "NOT CONNECTED"));

    for (int attempt = 0; attempt < 2; ++attempt) {
        flasher.PostCommand(GetParam().command);
        HWND box = flasher.WaitForDialog(GetParam().caption);
        ASSERT_NE(box, nullptr) << "attempt " << attempt;
        EXPECT_EQ(MessageBoxText(box), "Target Not Connected.");
        Click(box, IDOK);
        ASSERT_TRUE(flasher.WaitUntilGone(box));
        const State state = flasher.ReadState();
        EXPECT_EQ(state.at("programmingBusy"), "0");
        EXPECT_EQ(state.at("erasingBusy"), "0");
        EXPECT_EQ(state.at("connection"), "0");
    }
    EXPECT_TRUE(flasher.DialogCaptions().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, GuiNotConnected,
    ::testing::Values(NotConnectedCase{CMD_PROGRAM_NOW, "Program Target Flash Error"},
                      NotConnectedCase{CMD_ERASE, "Erase Target Flash Error"},
                      NotConnectedCase{CMD_START_APPLICATION, "Launch Target Application Error"}));

// --- The status bar when the window is resized ---

TEST(GuiStatusBar, FollowsTheWidthWhileItsPartEdgesStayAsCreated) {
    SampleDirectory samples;
    Flasher flasher({samples.Directory()});
    ASSERT_TRUE(flasher.Started());
    const State before = flasher.ReadState();
    const int width = std::stoi(before.at("clientWidth"));
    EXPECT_EQ(before.at("statusParts"),
              std::to_string(width / 2) + "," + std::to_string(width / 2 * 2));
    EXPECT_EQ(before.at("statusWidth"), before.at("clientWidth"));

    SetWindowPos(flasher.MainWindow(), nullptr, 0, 0, 700, 300, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(
        WaitFor([&] { return flasher.ReadState().at("clientWidth") != before.at("clientWidth"); }));
    const State after = flasher.ReadState();
    EXPECT_GT(std::stoi(after.at("clientWidth")), width);
    EXPECT_EQ(after.at("statusWidth"), after.at("clientWidth"));
    EXPECT_EQ(after.at("statusParts"), before.at("statusParts"));
}

// --- The accelerators: auto-program check mark, programming request ---

TEST(GuiAccelerators, CtrlPWithoutATargetOnlyArmsTheRequest) {
    SampleDirectory samples;
    Flasher flasher({samples.Directory()});
    ASSERT_TRUE(flasher.Started());
    EXPECT_EQ(flasher.ReadState().at("programRequest"), "4");
    ASSERT_TRUE(flasher.PressControlKey('P'));
    ASSERT_TRUE(flasher.WaitForState("programRequest", "1"));
    const State state = flasher.ReadState();
    EXPECT_EQ(state.at("programmingBusy"), "0");
    EXPECT_EQ(state.at("status0"), "NOT CONNECTED");
    EXPECT_TRUE(flasher.DialogCaptions().empty());
}

TEST(GuiAccelerators, AutoprogramWordSetsTheMarkAndCtrlATwiceRestoresIt) {
    SampleDirectory samples;
    Flasher flasher({"AutoProgram", samples.Directory()});
    ASSERT_TRUE(flasher.Started());
    State state = flasher.ReadState();
    EXPECT_EQ(state.at("check622"), "1");
    EXPECT_EQ(state.at("autoProgram"), "1");

    ASSERT_TRUE(flasher.PressControlKey('A'));
    ASSERT_TRUE(flasher.WaitForState("check622", "0"));
    EXPECT_EQ(flasher.ReadState().at("autoProgram"), "0");

    ASSERT_TRUE(flasher.PressControlKey('A'));
    ASSERT_TRUE(flasher.WaitForState("check622", "1"));
    EXPECT_EQ(flasher.ReadState().at("autoProgram"), "1");
}

// --- Title and colour after the programming setup ---

TEST(GuiProgrammingSetup, TitleAndColourFollowTheAppliedSetup) {
    SampleDirectory samples;
    Flasher flasher({samples.Directory()});
    ASSERT_TRUE(flasher.Started());
    State state = flasher.ReadState();
    EXPECT_EQ(state.at("title"), "Farsend Flasher - Bluetooth");
    EXPECT_EQ(state.at("background"), "ae8a00");  // COLORREF 0x00BBGGRR
    EXPECT_EQ(state.at("status0"), "NOT CONNECTED");
    EXPECT_EQ(state.at("status1"), "Farsend_15_bt.hex");
    TakeScreenshot("main_window.png");

    // ZigBee chosen: the file shown at once, title and colour after OK.
    flasher.PostCommand(CMD_PROGRAMMING_SETUP);
    HWND setup = flasher.WaitForDialog("Programming Setup");
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(ListEntries(setup, IDC_DEVICE_TYPE_LIST),
              (std::vector<std::string>{"ZigBee", "Bluetooth"}));
    EXPECT_EQ(ListEntries(setup, IDC_DEVICE_VERSION_LIST),
              (std::vector<std::string>{"1.0", "1.5", "2.0"}));
    EXPECT_TRUE(IsChecked(setup, IDC_FLASH_APPLICATION));
    EXPECT_FALSE(IsChecked(setup, IDC_FLASH_BOOTLOADER_AND_APPLICATION));
    EXPECT_TRUE(IsChecked(setup, IDC_AUTO_SELECT_FILE));
    EXPECT_TRUE(IsChecked(setup, IDC_VALIDATE_DEVICE));
    EXPECT_FALSE(IsEnabled(setup, IDC_BROWSE));
    EXPECT_EQ(ControlText(setup, IDC_FILE_NAME), "Farsend_15_bt.hex");
    ChooseListEntry(setup, IDC_DEVICE_TYPE_LIST, 0);
    EXPECT_EQ(ControlText(setup, IDC_FILE_NAME), "Farsend_15_802.hex");
    TakeScreenshot("programming_setup.png");
    Click(setup, IDOK);
    ASSERT_TRUE(flasher.WaitUntilGone(setup));
    state = flasher.ReadState();
    EXPECT_EQ(state.at("title"), "Farsend Flasher - ZigBee");
    EXPECT_EQ(state.at("background"), "63ab80");
    EXPECT_EQ(state.at("status1"), "Farsend_15_802.hex");

    // Factory images.
    flasher.PostCommand(CMD_PROGRAMMING_SETUP);
    setup = flasher.WaitForDialog("Programming Setup");
    ASSERT_NE(setup, nullptr);
    Click(setup, IDC_FLASH_BOOTLOADER_AND_APPLICATION);
    EXPECT_TRUE(
        WaitFor([&] { return ControlText(setup, IDC_FILE_NAME) == "Farsend_15_802_f.hex"; }));
    EXPECT_FALSE(IsChecked(setup, IDC_FLASH_APPLICATION));
    Click(setup, IDOK);
    ASSERT_TRUE(flasher.WaitUntilGone(setup));
    state = flasher.ReadState();
    EXPECT_EQ(state.at("title"), "Farsend Flasher - ZigBee Factory");
    EXPECT_EQ(state.at("background"), "63ab80");
    EXPECT_EQ(state.at("status1"), "Farsend_15_802_f.hex");

    // A change that is cancelled leaves everything as it was.
    flasher.PostCommand(CMD_PROGRAMMING_SETUP);
    setup = flasher.WaitForDialog("Programming Setup");
    ASSERT_NE(setup, nullptr);
    ChooseListEntry(setup, IDC_DEVICE_TYPE_LIST, 1);
    EXPECT_EQ(ControlText(setup, IDC_FILE_NAME), "Farsend_15_bt_f.hex");
    Click(setup, IDCANCEL);
    ASSERT_TRUE(flasher.WaitUntilGone(setup));
    EXPECT_EQ(flasher.ReadState().at("title"), "Farsend Flasher - ZigBee Factory");

    // Auto-select off: no variant, grey; the last file stays.
    flasher.PostCommand(CMD_PROGRAMMING_SETUP);
    setup = flasher.WaitForDialog("Programming Setup");
    ASSERT_NE(setup, nullptr);
    Click(setup, IDC_AUTO_SELECT_FILE);
    EXPECT_TRUE(WaitFor([&] { return !IsEnabled(setup, IDC_DEVICE_TYPE_LIST); }));
    EXPECT_TRUE(IsEnabled(setup, IDC_BROWSE));
    Click(setup, IDOK);
    ASSERT_TRUE(flasher.WaitUntilGone(setup));
    state = flasher.ReadState();
    EXPECT_EQ(state.at("title"), "Farsend Flasher Factory");
    EXPECT_EQ(state.at("background"), "808080");
    EXPECT_EQ(state.at("status1"), "Farsend_15_802_f.hex");
}

// --- Erase in factory mode: the warning, cancelled ---

TEST(GuiEraseAll, CancelledWarningOpensNoJobAndComesAgain) {
    SampleDirectory samples;
    const std::string log = samples.Scratch("serial.log");
    Flasher flasher({"--simulate", "--sim-serial-log=" + log, "factory", samples.Directory()});
    ASSERT_TRUE(flasher.Started());
    ASSERT_TRUE(flasher.WaitForState("status0", "CONNECTED"));

    for (int attempt = 0; attempt < 2; ++attempt) {
        flasher.PostCommand(CMD_ERASE);
        HWND warning = flasher.WaitForDialog("Warning");
        ASSERT_NE(warning, nullptr) << "attempt " << attempt;
        EXPECT_EQ(
            MessageBoxText(warning),
            "About to Erase ALL of the target flash (incl. Bootloader).\nPlease ensure that a "
            "new Bootloader is programmed before \nterminating communication with the "
            "target. Failure to do so \nwill prevent future communication with the target.");
        Click(warning, IDCANCEL);
        ASSERT_TRUE(flasher.WaitUntilGone(warning));
        // Handled after the command has returned: a job dialog would exist now.
        const State state = flasher.ReadState();
        EXPECT_EQ(state.at("erasingBusy"), "0");
        EXPECT_EQ(state.at("status0"), "CONNECTED");
        EXPECT_TRUE(flasher.DialogCaptions().empty());
    }
    // The target heard the handshake and nothing else.
    EXPECT_EQ(ReadBytes(log), Commands({protocol::Command::Ack}));
}

// --- Erase jobs from the main window ---

struct EraseCase {
    const char* mode;  // "" or "factory"
    const char* dialogCaption;
    protocol::Command command;
    const char* screenshot;
};

class GuiErase : public ::testing::TestWithParam<EraseCase> {};

TEST_P(GuiErase, TheBarFillsInsideTheDialogAndTheTargetStaysConnected) {
    const EraseCase& c = GetParam();
    SampleDirectory samples;
    const std::string log = samples.Scratch("serial.log");
    std::vector<std::string> words = {"--simulate", "--sim-baud=115200", "--sim-erase-blocks=100",
                                      "--sim-serial-log=" + log, samples.Directory()};
    if (*c.mode != '\0') words.push_back(c.mode);
    Flasher flasher(words);
    ASSERT_TRUE(flasher.Started());
    ASSERT_TRUE(flasher.WaitForState("status0", "CONNECTED"));

    flasher.PostCommand(CMD_ERASE);
    if (c.command == protocol::Command::EraseAll) {
        HWND warning = flasher.WaitForDialog("Warning");
        ASSERT_NE(warning, nullptr);
        Click(warning, IDOK);
    }
    HWND dialog = flasher.WaitForDialog(c.dialogCaption);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_JOB_FIRST_LABEL), "Progress:");
    HWND bar = FindProgressBar(dialog, "Progress");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(ProgressHigh(bar), 20);
    const RECT client = ClientRectOnScreen(dialog);
    const RECT rect = WindowRectOnScreen(bar);
    EXPECT_LE(rect.right + 5, client.right);
    EXPECT_LE(rect.bottom + 5, client.bottom);
    ASSERT_TRUE(WaitFor([&] { return ProgressPosition(bar) >= 5; }, kProgrammingTimeoutMs));
    TakeScreenshot(std::string(c.screenshot) + ".png");

    ASSERT_TRUE(flasher.WaitUntilGone(dialog, kProgrammingTimeoutMs));
    const State state = flasher.ReadState();
    EXPECT_EQ(state.at("erasingBusy"), "0");
    EXPECT_EQ(state.at("status0"), "CONNECTED");
    EXPECT_EQ(ReadBytes(log), Commands({protocol::Command::Ack, c.command}));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, GuiErase,
    ::testing::Values(EraseCase{"", "Erasing Target Flash", protocol::Command::EraseDefault,
                                "erase_dialog"},
                      EraseCase{"factory", "Erasing ALL of Target Flash",
                                protocol::Command::EraseAll, "erase_all_dialog"}));

// --- A file chosen by hand that does not fit the mode ---

TEST(GuiProgramNow, HandChosenFactoryImageIsRefusedInApplicationMode) {
    SampleDirectory samples;
    const TempDirectory empty;
    const std::string log = samples.Scratch("serial.log");
    Flasher flasher({"--simulate", "--sim-serial-log=" + log, Text(empty.path())});
    ASSERT_TRUE(flasher.Started());
    ASSERT_TRUE(flasher.WaitForState("status0", "CONNECTED"));
    EXPECT_EQ(flasher.ReadState().at("firmwarePath"), "");

    flasher.PostCommand(CMD_PROGRAM_NOW);
    HWND open = flasher.WaitForDialog("Open Hex File");
    ASSERT_NE(open, nullptr);
    HWND name = GetDlgItem(open, 0x47C);                  // the file-name box (cmb13)
    if (name == nullptr) name = GetDlgItem(open, 0x480);  // edt1 in the old style
    ASSERT_NE(name, nullptr);
    const std::string factory = samples.File("Farsend_15_bt_f.hex");
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(factory.c_str()));
    Click(open, IDOK);

    HWND refusal = flasher.WaitForDialog("Invalid File");
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(MessageBoxText(refusal), "Invalid file type.");
    Click(refusal, IDOK);
    ASSERT_TRUE(flasher.WaitUntilGone(refusal));
    const State state = flasher.ReadState();
    EXPECT_EQ(state.at("programmingBusy"), "0");
    EXPECT_EQ(state.at("firmwarePath"), "");
    EXPECT_EQ(state.at("status1"), "");
    EXPECT_TRUE(flasher.DialogCaptions().empty());
    EXPECT_EQ(ReadBytes(log), Commands({protocol::Command::Ack}));
}

// --- A COM port change while connected ---

TEST(GuiSerialSetup, PortChangeWhileConnectedLetsTheTargetGoAndOneMonitorGoesOn) {
    SampleDirectory samples;
    const std::string log = samples.Scratch("serial.log");
    // A second target arrives after the first has started its application.
    Flasher flasher(
        {"--simulate", "--sim-targets=2", "--sim-serial-log=" + log, samples.Directory()});
    ASSERT_TRUE(flasher.Started());
    ASSERT_TRUE(flasher.WaitForState("status0", "CONNECTED"));

    flasher.PostCommand(CMD_SERIAL_SETUP);
    HWND setup = flasher.WaitForDialog("COM Port Selection");
    ASSERT_NE(setup, nullptr);
    EXPECT_TRUE(IsChecked(setup, IDC_COM1));
    Click(setup, IDC_COM3);
    ASSERT_TRUE(WaitFor([&] { return IsChecked(setup, IDC_COM3) && !IsChecked(setup, IDC_COM1); }));
    Click(setup, IDOK);
    ASSERT_TRUE(flasher.WaitUntilGone(setup));

    using protocol::Command;
    const std::vector<uint8_t> expected =
        Commands({Command::Ack, Command::StartApplication, Command::Ack});
    // The first target is released, and the one monitor that goes on meets
    // the next target with a fresh handshake.
    ASSERT_TRUE(WaitFor([&] { return ReadBytes(log) == expected; }))
        << "serial log has " << ReadBytes(log).size() << " bytes";
    ASSERT_TRUE(flasher.WaitForState("status0", "CONNECTED"));
    const State state = flasher.ReadState();
    EXPECT_EQ(state.at("comPort"), "3");
    EXPECT_EQ(state.at("monitors"), "1");
    EXPECT_EQ(ReadBytes(log), expected);
}

// --- A programming run shown in its dialog ---

TEST(GuiProgrammingDialog, BarsFollowTheRunAndAnExitMeanwhileWaitsForItsEnd) {
    SampleDirectory samples;
    const std::string log = samples.Scratch("serial.log");
    // A line speed that makes the run last long enough to be seen.
    Flasher flasher({"--simulate", "--sim-baud=115200", "--sim-serial-log=" + log, "autoprogram",
                     samples.Directory()});
    ASSERT_TRUE(flasher.Started());
    HWND dialog = flasher.WaitForDialog("Programming Application", kProgrammingTimeoutMs);
    ASSERT_NE(dialog, nullptr);
    HWND eraseBar = FindProgressBar(dialog, "Erase Progress");
    HWND programBar = FindProgressBar(dialog, "Program Progress");
    ASSERT_NE(eraseBar, nullptr);
    ASSERT_NE(programBar, nullptr);
    EXPECT_EQ(ProgressHigh(eraseBar), 20);
    EXPECT_EQ(ProgressHigh(programBar), 100);
    EXPECT_EQ(GetWindowLongA(programBar, GWL_STYLE), 0x50800001);

    // Both bars lie wholly inside the client area, with room to spare.
    const RECT client = ClientRectOnScreen(dialog);
    for (HWND bar : {eraseBar, programBar}) {
        const RECT rect = WindowRectOnScreen(bar);
        EXPECT_LE(client.left, rect.left);
        EXPECT_LE(rect.right + 5, client.right);
        EXPECT_LE(rect.bottom + 5, client.bottom);
    }

    ASSERT_TRUE(WaitFor([&] { return ProgressPosition(programBar) >= 30; }, kProgrammingTimeoutMs));
    EXPECT_EQ(ProgressPosition(eraseBar), 20);
    TakeScreenshot("programming_dialog.png");

    // Exit given while the job has the link: the run ends as it would, then
    // the program; the target is not told to start its application beside
    // the running job.
    flasher.PostCommand(CMD_EXIT);
    ASSERT_EQ(flasher.WaitForExit(kProgrammingTimeoutMs), 0);
    const std::vector<uint8_t> expected = ProgrammingStream(samples.File("Farsend_15_bt.hex"));
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(ReadBytes(log) == expected)
        << "serial log of " << ReadBytes(log).size() << " bytes, expected " << expected.size();
}

// --- Ending the program: always exit code 0 ---

struct EndCase {
    const char* what;
    std::vector<std::string> words;
    UINT message;
    WPARAM wParam;
    std::vector<protocol::Command> heard;  // by the target, in order
    DWORD settleMs;                        // lets the monitor begin its first pass (after 100 ms)
    // How soon after the request the process must have ended. A monitor
    // that will not stop is given 3 s before the process is ended anyway.
    DWORD exitWithinMs = 30000;
};

class GuiEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(GuiEnd, TheTargetIsLetGoAndTheExitCodeIsZero) {
    const EndCase& c = GetParam();
    SampleDirectory samples;
    const std::string log = samples.Scratch("serial.log");
    std::vector<std::string> words = {"--simulate", "--sim-serial-log=" + log};
    words.insert(words.end(), c.words.begin(), c.words.end());
    words.push_back(samples.Directory());
    Flasher flasher(words);
    ASSERT_TRUE(flasher.Started());
    if (!c.heard.empty()) {
        ASSERT_TRUE(flasher.WaitForState("status0", "CONNECTED"));
    }
    Sleep(c.settleMs);

    const DWORD posted = GetTickCount();
    flasher.Post(c.message, c.wParam);
    EXPECT_EQ(flasher.WaitForExit(30000), 0);
    const DWORD took = GetTickCount() - posted;
    std::printf("[          ] %s: ended %lu ms after the request\n", c.what,
                static_cast<unsigned long>(took));
    EXPECT_LT(took, c.exitWithinMs);
    std::vector<uint8_t> expected;
    for (protocol::Command command : c.heard) Append(expected, command);
    EXPECT_EQ(ReadBytes(log), expected);
}

using protocol::Command;
INSTANTIATE_TEST_SUITE_P(
    Ways, GuiEnd,
    ::testing::Values(EndCase{"Exit while connected",
                              {},
                              WM_COMMAND,
                              CMD_EXIT,
                              {Command::Ack, Command::StartApplication},
                              0},
                      EndCase{"window closed while connected",
                              {},
                              WM_CLOSE,
                              0,
                              {Command::Ack, Command::StartApplication},
                              0},
                      // The monitor is inside a handshake that waits 13 seconds for a call:
                      // the stop cancels it, well before the 3 s after which the process
                      // would be ended without it.
                      EndCase{"Exit while no target calls",
                              {"--sim-targets=0"},
                              WM_COMMAND,
                              CMD_EXIT,
                              {},
                              500,
                              2500}));

// --- Help ---

TEST(GuiHelp, F1AndAboutOpenTheHelpPageBesideTheProgram) {
    SampleDirectory samples;
    Flasher flasher({samples.Directory()});
    ASSERT_TRUE(flasher.Started());
    ASSERT_TRUE(flasher.PressKey(VK_F1));
    ASSERT_TRUE(WaitFor([&] { return !flasher.ReadState()["helpPage"].empty(); }));
    const std::string page = flasher.ReadState().at("helpPage");
    EXPECT_EQ(fs::path(page).filename(), "FLASH_HELP.html") << page;
    EXPECT_TRUE(fs::exists(page)) << page;
    // Beside the program file itself, wherever that was unpacked.
    EXPECT_TRUE(fs::equivalent(fs::path(page).parent_path(),
                               fs::path(WindowsPath(FlasherExe())).parent_path()))
        << page << " vs " << FlasherExe();
    // By the page's association (2) or the HTML class's handler (3): a
    // browser was started, not a box that names the page (4).
    const State state = flasher.ReadState();
    EXPECT_EQ(state.at("helpOpened"), "1");
    EXPECT_TRUE(state.at("helpWay") == "2" || state.at("helpWay") == "3") << state.at("helpWay");

    flasher.PostCommand(CMD_ABOUT);
    ASSERT_TRUE(WaitFor([&] {
        const std::string about = flasher.ReadState()["helpPage"];
        return about.size() > 6 && about.substr(about.size() - 6) == "#about";
    }));
}

}  // namespace
}  // namespace farsend::gui_test

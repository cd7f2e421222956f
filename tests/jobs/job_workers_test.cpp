// The erase and programming workers end to end: the real exchanges, link and
// reader thread against the simulated target, in virtual time.
#include "jobs/job_workers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "common/diagnostics.h"
#include "job_test_support.h"
#include "jobs/progress_steps.h"
#include "protocol/exchanges.h"
#include "support/temp_directory.h"

namespace farsend::jobs {
namespace {

using farsend::testing::PatternRun;
using farsend::testing::RecordingDialog;
using farsend::testing::RecordingMainWindow;
using farsend::testing::SimRig;
using farsend::testing::TempDirectory;
namespace packets = sim::packets;

class WorkerTest : public ::testing::Test {
protected:
    explicit WorkerTest(sim::SimOptions options = SimRig::DefaultOptions()) : rig_(options) {}

    void SetUp() override {
        ASSERT_EQ(protocol::ConnectTarget(rig_.exchanges), protocol::ExchangeResult::Ok);
        settings_.connectionState = app::ConnectionState::Connected;
        // A message is shown (and dismissed) before the main window hears
        // of the failure: how many commands had reached it by then.
        dialog_.onMessage = [this](const Message&) {
            commandsBeforeMessage_.push_back(mainWindow_.Commands().size());
        };
    }

    // Busy flag set as the main window sets it before opening the dialog.
    JobReport Run(JobKind kind) {
        (IsProgrammingJob(kind) ? settings_.programmingBusy : settings_.erasingBusy) = true;
        return RunJobWorker(kind, settings_.firmwarePath.Get(), environment_);
    }

    std::string UseImage(const std::vector<sim::ImageRun>& runs, size_t size = 0) {
        const std::filesystem::path path = directory_.path() / "Farsend_15_bt.hex";
        if (size == 0) size = sim::FormatImage(runs).size();
        farsend::testing::WriteImageOfSize(path, runs, size);
        settings_.firmwarePath.Set(path.string());
        return path.string();
    }
    std::string UseText(const std::string& text) {
        const std::filesystem::path path = directory_.path() / "Farsend_15_bt.hex";
        farsend::testing::WriteText(path, text);
        settings_.firmwarePath.Set(path.string());
        return path.string();
    }

    // The calls of the dialog other than the erase bar's.
    std::vector<std::string> AfterErasing() const {
        std::vector<std::string> calls;
        for (const std::string& call : dialog_.Calls()) {
            if (call != "erase" && call != "begin") calls.push_back(call);
        }
        return calls;
    }

    SimRig rig_;
    TempDirectory directory_;
    app::ToolSettings settings_;
    RecordingMainWindow mainWindow_{settings_};
    RecordingDialog dialog_{mainWindow_};
    JobEnvironment environment_{settings_, rig_.exchanges, &dialog_};
    std::vector<size_t> commandsBeforeMessage_;
};

// --- Erase bar --------------------------------------------------------------

struct EraseCase {
    JobKind kind;
    uint32_t erasedBlocks;
};

class EraseBar : public ::testing::TestWithParam<EraseCase> {};

TEST_P(EraseBar, OneStepPerErasedBlockThenFilledUpToTwenty) {
    sim::SimOptions options = SimRig::DefaultOptions();
    options.erase_blocks = GetParam().erasedBlocks;
    SimRig rig(options);
    TempDirectory directory;
    app::ToolSettings settings;
    RecordingMainWindow mainWindow(settings);
    RecordingDialog dialog(mainWindow);
    const std::filesystem::path image = directory.path() / "Farsend_15_bt.hex";
    farsend::testing::WriteText(image, "00004000\n01 02 03\n");
    settings.firmwarePath.Set(image.string());
    ASSERT_EQ(protocol::ConnectTarget(rig.exchanges), protocol::ExchangeResult::Ok);
    settings.programmingBusy = true;
    settings.erasingBusy = true;

    // Where the single steps end and the fill-up begins: the fill-up comes
    // after the end of erasing, which the target has sent by then.
    const JobReport report =
        RunJobWorker(GetParam().kind, image.string(), {settings, rig.exchanges, &dialog});

    EXPECT_TRUE(report.Succeeded());
    EXPECT_EQ(report.blocksErased, GetParam().erasedBlocks);
    const int expectedSteps =
        static_cast<int>(GetParam().erasedBlocks) + EraseFillUpSteps(GetParam().erasedBlocks);
    EXPECT_EQ(dialog.Count("erase"), expectedSteps);
    EXPECT_EQ(dialog.Count("end"), 1);
    if (IsProgrammingJob(GetParam().kind)) {
        EXPECT_FALSE(settings.programmingBusy);
        EXPECT_TRUE(settings.erasingBusy);  // not this job's flag
        EXPECT_EQ(mainWindow.Commands(), std::vector<int>{app::kCommandProgrammingFinished});
    } else {
        EXPECT_FALSE(settings.erasingBusy);
        EXPECT_TRUE(settings.programmingBusy);
        // An erase tells the main window nothing; the link stays open.
        EXPECT_TRUE(mainWindow.Commands().empty());
        EXPECT_NE(rig.link.writeHandle, link::kNoHandle);
    }
    EXPECT_TRUE(dialog.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, EraseBar,
    ::testing::Values(EraseCase{JobKind::EraseDefault, 7}, EraseCase{JobKind::EraseDefault, 25},
                      EraseCase{JobKind::EraseAll, 7}, EraseCase{JobKind::EraseAll, 0},
                      EraseCase{JobKind::ProgramApplication, 7},
                      EraseCase{JobKind::ProgramApplication, 25},
                      EraseCase{JobKind::ProgramBootloaderAndApplication, 20},
                      EraseCase{JobKind::ProgramBootloaderAndApplication, 25}));

// --- Programming bar and blocks --------------------------------------------

struct ProgramCase {
    std::string name;
    std::vector<sim::ImageRun> runs;
    size_t fileSize;                   // 0: as formatted
    int barSteps;                      // where the programming bar ends
    std::vector<uint32_t> blockBytes;  // empty: not checked
    // When set, the file is this text instead of the formatted runs.
    std::string text = {};
};

class ProgramBar : public WorkerTest, public ::testing::WithParamInterface<ProgramCase> {};

TEST_P(ProgramBar, FollowsTheFileAndSendsEveryBlock) {
    const ProgramCase& c = GetParam();
    if (c.text.empty()) {
        UseImage(c.runs, c.fileSize);
    } else {
        UseText(c.text);
    }
    // The block lines of the diagnostics ("\nbase:4000 nbytes:256 ").
    std::mutex linesMutex;
    std::vector<std::string> blockLines;
    SetDiagnosticSink([&](std::string_view line) {
        std::lock_guard<std::mutex> lock(linesMutex);
        if (line.rfind("\nbase:", 0) == 0) blockLines.emplace_back(line);
    });

    const JobReport report = Run(JobKind::ProgramApplication);
    SetDiagnosticSink({});

    ASSERT_TRUE(report.Succeeded()) << ::testing::PrintToString(dialog_.Calls());
    if (c.barSteps >= 0) {
        EXPECT_EQ(dialog_.Count("program"), c.barSteps);
    }
    EXPECT_EQ(rig_.simulation->Target().Flash(), farsend::testing::ContentsOf(c.runs));
    EXPECT_EQ(mainWindow_.Commands(), std::vector<int>{app::kCommandProgrammingFinished});
    EXPECT_TRUE(rig_.TargetReceived(packets::kEndOfData));
    EXPECT_FALSE(settings_.programmingBusy);
    if (!c.blockBytes.empty()) {
        std::vector<std::string> expected;
        for (uint32_t bytes : c.blockBytes) expected.push_back("block:" + std::to_string(bytes));
        std::vector<std::string> blocks;
        for (const std::string& call : AfterErasing()) {
            if (call.rfind("block:", 0) == 0) blocks.push_back(call);
        }
        EXPECT_EQ(blocks, expected);
        EXPECT_EQ(report.blocksSent, c.blockBytes.size());
        // One line per block sent, in order: the check of the whole file
        // before the run writes none.
        std::vector<std::string> sizes;
        for (const std::string& line : blockLines) {
            sizes.push_back(line.substr(line.find("nbytes:") + 7));
        }
        std::vector<std::string> expectedSizes;
        for (uint32_t bytes : c.blockBytes) expectedSizes.push_back(std::to_string(bytes) + " ");
        EXPECT_EQ(sizes, expectedSizes);
    }
    EXPECT_EQ(blockLines.size(), report.blocksSent);
    EXPECT_EQ(rig_.simulation->Target().BlocksAccepted(), report.blocksSent);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ProgramBar,
    ::testing::Values(
        // The last block ends at the end of the file, so the last position
        // taken is 97 KB of 97 KB: 100.0 / 97 * 97 is 99.99999999999999 and
        // the bar stops at 99.
        ProgramCase{"Size97KbEndsAt99",
                    {PatternRun(0x4000, 129 * 256)},
                    0,
                    99,
                    {},
                    farsend::testing::ExactImageText(0x4000, 129 * 256, 97 * 1024)},
        ProgramCase{"Size10KbEndsAt100",
                    {PatternRun(0x4000, 13 * 256)},
                    0,
                    100,
                    {},
                    farsend::testing::ExactImageText(0x4000, 13 * 256, 10 * 1024)},
        // Under 1 KB there is no scale: the bar never moves, the blocks go.
        ProgramCase{"Size1023BarNeverMoves", {PatternRun(0x4000, 300)}, 1023, 0, {256, 44}},
        // Ending on a block boundary: the empty last block is sent too.
        ProgramCase{"EndsOnBlockBoundary", {PatternRun(0x4000, 512)}, 0, -1, {256, 256, 0}},
        ProgramCase{
            "GapStartsANewBlock", {PatternRun(0x4000, 10), PatternRun(0x5000, 3)}, 0, 0, {10, 3}}),
    [](const ::testing::TestParamInfo<ProgramCase>& info) { return info.param.name; });

TEST_F(WorkerTest, FirstPassAddsNoStepAndLaterPassesFollowThePosition) {
    // 10 KB: each kilobyte read is ten steps, taken before the next read.
    UseText(farsend::testing::ExactImageText(0x4000, 13 * 256, 10 * 1024));
    ASSERT_TRUE(Run(JobKind::ProgramApplication).Succeeded());
    const std::vector<std::string> calls = AfterErasing();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "block:256");
    // Every run of steps comes right before a block or the end of data, and
    // none is larger than the share of one block's text (about 1 KB).
    int run = 0;
    for (const std::string& call : calls) {
        if (call == "program") {
            ++run;
            continue;
        }
        EXPECT_LE(run, 10);
        run = 0;
    }
}

// Ending the process afterwards is the window program's choice, made from
// the report (EndsProcessAfterJob); the worker itself only says it finished.
TEST_F(WorkerTest, ProgrammingFinishedIsTheOnlyCommandAndComesBeforeTheDialogEnds) {
    UseImage({PatternRun(0x4000, 300)});
    std::vector<size_t> dialogCallsAtCommand;
    mainWindow_.onCommand = [&](int) { dialogCallsAtCommand.push_back(dialog_.Calls().size()); };

    ASSERT_TRUE(Run(JobKind::ProgramBootloaderAndApplication).Succeeded());

    EXPECT_EQ(mainWindow_.Commands(), (std::vector<int>{app::kCommandProgrammingFinished}));
    ASSERT_EQ(dialogCallsAtCommand.size(), 1u);
    EXPECT_LT(dialogCallsAtCommand[0], dialog_.Calls().size());  // 660 before the end
    EXPECT_EQ(dialog_.Calls().back(), "end");
}

// --- Failures ---------------------------------------------------------------

TEST_F(WorkerTest, EndOfDataFailingIsACommunicationErrorWithoutSuccess) {
    UseImage({PatternRun(0x4000, 600)});
    rig_.muting->MuteAfterCommand(packets::kEndOfData);

    const JobReport report = Run(JobKind::ProgramApplication);

    EXPECT_EQ(report.outcome, JobOutcome::CommunicationError);
    EXPECT_EQ(report.blocksSent, 3u);
    EXPECT_EQ(mainWindow_.Commands(), std::vector<int>{app::kCommandCommunicationFailure});
    EXPECT_EQ(commandsBeforeMessage_, std::vector<size_t>{0});
    ASSERT_EQ(dialog_.Messages().size(), 1u);
    EXPECT_EQ(dialog_.Messages()[0],
              (Message{"Communication Error with Target.\nTerminating programming procedure.\n"
                       "Further communication with the target will be terminated.",
                       "Error", MessageStyle::Error}));
    EXPECT_FALSE(settings_.programmingBusy);
    EXPECT_EQ(dialog_.Calls().back(), "end");
}

TEST_F(WorkerTest, StartNotAcknowledgedIsACommunicationError) {
    UseImage({PatternRun(0x4000, 600)});
    rig_.muting->MuteAfterCommand(packets::kProgramApplication);
    const JobReport report = Run(JobKind::ProgramApplication);
    EXPECT_EQ(report.outcome, JobOutcome::CommunicationError);
    EXPECT_EQ(report.blocksSent, 0u);
    EXPECT_EQ(dialog_.Count("erase"), 0);
    EXPECT_EQ(mainWindow_.Commands(), std::vector<int>{app::kCommandCommunicationFailure});
    EXPECT_EQ(commandsBeforeMessage_, std::vector<size_t>{0});
}

struct OpenFailureCase {
    JobKind kind;
    std::string text = {};
};

class OpenFailure : public WorkerTest, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailure, NamesTheFileErrorAndTouchesNothing) {
    settings_.firmwarePath.Set((directory_.path() / "missing_bt.hex").string());
    const JobReport report = Run(GetParam().kind);
    EXPECT_EQ(report.outcome, JobOutcome::FileOpenFailed);
    ASSERT_EQ(dialog_.Messages().size(), 1u);
    EXPECT_EQ(dialog_.Messages()[0], (Message{GetParam().text, "File Error", MessageStyle::Error}));
    EXPECT_TRUE(mainWindow_.Commands().empty());
    EXPECT_EQ(rig_.CommandCodes(), std::vector<uint8_t>{packets::kAck});
    EXPECT_FALSE(settings_.programmingBusy);
    EXPECT_EQ(dialog_.Calls().back(), "end");
}

INSTANTIATE_TEST_SUITE_P(Kinds, OpenFailure,
                         ::testing::Values(OpenFailureCase{JobKind::ProgramApplication,
                                                           "Error opening selected HEX file."},
                                           OpenFailureCase{JobKind::ProgramBootloaderAndApplication,
                                                           "Error opening selected hex file."}));

TEST_F(WorkerTest, MalformedFileIsRefusedBeforeTheTargetIsErased) {
    const std::string path = UseText("00004000\r\n01 02 zz 04\r\n");
    const JobReport report = Run(JobKind::ProgramApplication);

    EXPECT_EQ(report.outcome, JobOutcome::FileFormatError);
    ASSERT_TRUE(report.formatError.has_value());
    EXPECT_EQ(report.formatError->line, 2u);
    EXPECT_EQ(report.formatError->column, 7u);
    ASSERT_EQ(dialog_.Messages().size(), 1u);
    const Message message = dialog_.Messages()[0];
    EXPECT_EQ(message.caption, "File Error");
    EXPECT_NE(message.text.find(path + ", line 2, column 7"), std::string::npos) << message.text;
    // Nothing but the handshake reached the target: no erase, no end of data.
    EXPECT_EQ(rig_.CommandCodes(), std::vector<uint8_t>{packets::kAck});
    EXPECT_TRUE(mainWindow_.Commands().empty());
    EXPECT_FALSE(settings_.programmingBusy);
}

// A file without a single data byte would leave an erased target behind a
// run that ended with the end of data: it is refused like a malformed one.
struct NoDataCase {
    const char* text;
    JobKind kind;
};

class NoDataFile : public WorkerTest, public ::testing::WithParamInterface<NoDataCase> {};

TEST_P(NoDataFile, IsRefusedBeforeTheTargetIsErased) {
    const std::string path = UseText(GetParam().text);
    const JobReport report = Run(GetParam().kind);

    EXPECT_EQ(report.outcome, JobOutcome::FileFormatError);
    ASSERT_TRUE(report.formatError.has_value());
    EXPECT_EQ(report.formatError->kind, protocol::ImageFormatErrorKind::NoData);
    ASSERT_EQ(dialog_.Messages().size(), 1u);
    EXPECT_NE(dialog_.Messages()[0].text.find(path + ", no data bytes"), std::string::npos)
        << dialog_.Messages()[0].text;
    EXPECT_EQ(rig_.CommandCodes(), std::vector<uint8_t>{packets::kAck});
    EXPECT_TRUE(mainWindow_.Commands().empty());  // neither 660 nor 680
    EXPECT_FALSE(settings_.programmingBusy);
}

INSTANTIATE_TEST_SUITE_P(
    Files, NoDataFile,
    ::testing::Values(NoDataCase{"", JobKind::ProgramApplication},
                      NoDataCase{" \r\n\r\n", JobKind::ProgramBootloaderAndApplication},
                      NoDataCase{"00004000\r\n00008000\r\n", JobKind::ProgramApplication}));

// The file is replaced, rewritten or cut short while the target erases: the
// run programs the file as it was when the job started, all of it, and the
// report carries those bytes (the digest a front end records).
struct ChangedFileCase {
    const char* what;
    std::function<void(const std::string& path)> change;
};

class FileChangedDuringTheRun : public WorkerTest,
                                public ::testing::WithParamInterface<ChangedFileCase> {};

TEST_P(FileChangedDuringTheRun, ProgramsTheFileAsItWasAtTheStart) {
    const std::vector<sim::ImageRun> runs = {PatternRun(0x4000, 2000)};
    const std::string path = UseImage(runs);
    const std::string original = sim::FormatImage(runs);
    dialog_.onFirstEraseStep = [&] { GetParam().change(path); };

    const JobReport report = Run(JobKind::ProgramApplication);

    ASSERT_TRUE(report.Succeeded()) << ::testing::PrintToString(dialog_.Calls());
    EXPECT_EQ(rig_.simulation->Target().Flash(), farsend::testing::ContentsOf(runs));
    EXPECT_EQ(report.blocksSent, 8u);
    EXPECT_EQ(report.bytesSent, 2000u);
    EXPECT_EQ(report.fileBytes, original.size());
    ASSERT_TRUE(report.image);
    EXPECT_EQ(*report.image, original);
    EXPECT_TRUE(dialog_.Messages().empty());
    EXPECT_EQ(mainWindow_.Commands(), std::vector<int>{app::kCommandProgrammingFinished});
}

INSTANTIATE_TEST_SUITE_P(
    Changes, FileChangedDuringTheRun,
    ::testing::Values(
        ChangedFileCase{"rewritten malformed, same length",
                        [](const std::string& path) {
                            std::FILE* file = std::fopen(path.c_str(), "r+b");
                            ASSERT_NE(file, nullptr);
                            std::fseek(file, 3000, SEEK_SET);
                            std::fputs("zz", file);
                            std::fclose(file);
                        }},
        ChangedFileCase{"replaced by a longer image",
                        [](const std::string& path) {
                            farsend::testing::WriteText(
                                path, sim::FormatImage({PatternRun(0x8000, 5000)}));
                        }},
        ChangedFileCase{"truncated",
                        [](const std::string& path) { std::filesystem::resize_file(path, 700); }},
        ChangedFileCase{"removed", [](const std::string& path) { std::filesystem::remove(path); }}),
    [](const ::testing::TestParamInfo<ChangedFileCase>& info) {
        std::string name;
        for (const char* c = info.param.what; *c != 0; ++c) {
            if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
        }
        return name;
    });

// A run of many units hands each job the image it read at its start: the
// job sends that, whatever the file holds now.
TEST_F(WorkerTest, GivenTheRunsImageItSendsThatAndNotTheFile) {
    UseImage({PatternRun(0x4000, 16)});
    const std::vector<sim::ImageRun> runs = {PatternRun(0x6000, 700)};
    environment_.image = std::make_shared<const std::string>(sim::FormatImage(runs));

    const JobReport report = Run(JobKind::ProgramApplication);

    ASSERT_TRUE(report.Succeeded()) << ::testing::PrintToString(dialog_.Calls());
    EXPECT_EQ(rig_.simulation->Target().Flash(), farsend::testing::ContentsOf(runs));
    EXPECT_EQ(report.image, environment_.image);
    EXPECT_EQ(report.bytesSent, 700u);
}

TEST_F(WorkerTest, FileThatCannotBeReadWholeIsRefusedBeforeTheTargetIsErased) {
    // A directory opens for reading on POSIX systems but cannot be read.
    settings_.firmwarePath.Set(directory_.MakeDirectory("Farsend_15_bt.hex").string());
    const JobReport report = Run(JobKind::ProgramApplication);
    EXPECT_TRUE(report.outcome == JobOutcome::FileFormatError ||
                report.outcome == JobOutcome::FileOpenFailed);
    EXPECT_FALSE(report.image);
    ASSERT_EQ(dialog_.Messages().size(), 1u);
    EXPECT_EQ(dialog_.Messages()[0].caption, "File Error");
    EXPECT_EQ(rig_.CommandCodes(), std::vector<uint8_t>{packets::kAck});
    EXPECT_TRUE(mainWindow_.Commands().empty());
    EXPECT_FALSE(settings_.programmingBusy);
}

class SilentWhileErasing : public WorkerTest, public ::testing::WithParamInterface<JobKind> {};

TEST_P(SilentWhileErasing, NamesTheBlockWaitedForAfterThirteenSeconds) {
    UseImage({PatternRun(0x4000, 600)});
    rig_.muting->MuteAfterBlocksErased(3);
    const Millis before = rig_.clock.Now();

    const JobReport report = Run(GetParam());

    const Millis waited = rig_.clock.Now() - before;
    EXPECT_EQ(report.outcome, JobOutcome::EraseError);
    EXPECT_EQ(report.blocksErased, 3u);
    ASSERT_EQ(dialog_.Messages().size(), 1u);
    EXPECT_EQ(dialog_.Messages()[0],
              (Message{"Unexpected Error encountered erasing Block: 4.\nTerminating operation.",
                       "Erase Error", MessageStyle::Error}));
    // One 13-second wait, and no further answer awaited.
    EXPECT_GE(waited, Millis(13000));
    EXPECT_LT(waited, Millis(26000));
    EXPECT_EQ(dialog_.Count("erase"), 3);  // no fill-up
    EXPECT_TRUE(mainWindow_.Commands().empty());
    EXPECT_FALSE(IsProgrammingJob(GetParam()) ? settings_.programmingBusy : settings_.erasingBusy);
    EXPECT_EQ(dialog_.Calls().back(), "end");
    EXPECT_FALSE(rig_.TargetReceived(packets::kBlockFollows));
}

INSTANTIATE_TEST_SUITE_P(Jobs, SilentWhileErasing,
                         ::testing::Values(JobKind::EraseDefault, JobKind::EraseAll,
                                           JobKind::ProgramApplication,
                                           JobKind::ProgramBootloaderAndApplication));

TEST_F(WorkerTest, EraseStartNotAcknowledgedReportsAndTellsTheMainWindow) {
    rig_.muting->MuteAfterCommand(packets::kEraseDefault);
    const JobReport report = Run(JobKind::EraseDefault);
    EXPECT_EQ(report.outcome, JobOutcome::CommunicationError);
    EXPECT_EQ(mainWindow_.Commands(), std::vector<int>{app::kCommandCommunicationFailure});
    EXPECT_EQ(commandsBeforeMessage_, std::vector<size_t>{0});
    ASSERT_EQ(dialog_.Messages().size(), 1u);
    EXPECT_EQ(dialog_.Messages()[0].caption, "Error");
    EXPECT_FALSE(settings_.erasingBusy);
}

}  // namespace
}  // namespace farsend::jobs

namespace farsend::jobs {
namespace {

// --- A unit's serial and a stop between blocks ------------------------------

// Sets the stop flag once `after` blocks went out (0: before the run starts).
class StoppingObserver final : public StationObserver {
public:
    StoppingObserver(std::atomic<bool>& stop, int after) : stop_(stop), after_(after) {
        if (after_ == 0) stop_ = true;
    }
    void OnStationEvent(const StationEvent& event) override {
        const auto* block = std::get_if<events::BlockSent>(&event);
        if (block != nullptr && static_cast<int>(block->blocksSent) == after_) stop_ = true;
    }

private:
    std::atomic<bool>& stop_;
    int after_;
};

TEST(WorkerSerialAndStop, StampsEachBlockItCoversAndStopsBetweenBlocks) {
    struct Case {
        const char* name;
        bool serial;
        int stopAfter;  // -1: never
        JobOutcome outcome;
        uint32_t blocksSent;
        bool started, ended, aborted;
    };
    // 600 bytes: blocks at 0x4000, 0x4100 and 0x4200; the serial straddles
    // the first two.
    const Case cases[] = {
        {"serial", true, -1, JobOutcome::Success, 3, true, true, false},
        {"stop before the start", true, 0, JobOutcome::Interrupted, 0, false, false, false},
        {"stop after a block", true, 1, JobOutcome::Interrupted, 1, true, false, true},
        {"stop after the last block", false, 3, JobOutcome::Interrupted, 3, true, false, true},
    };
    const std::vector<sim::ImageRun> runs = {farsend::testing::PatternRun(0x4000, 600)};
    const protocol::SerialSpec spec{0x40FE, 4, protocol::SerialFormat::BigEndian};
    const UnitSerial serial{spec, protocol::SerialBytes(spec, 0xA1B2C3D4u)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        farsend::testing::SimRig rig(farsend::testing::SimRig::DefaultOptions());
        farsend::testing::TempDirectory directory;
        app::ToolSettings settings;
        const std::filesystem::path image = directory.path() / "Farsend_15_bt.hex";
        farsend::testing::WriteImageOfSize(image, runs, sim::FormatImage(runs).size());
        ASSERT_EQ(protocol::ConnectTarget(rig.exchanges), protocol::ExchangeResult::Ok);
        std::atomic<bool> stop{false};
        StoppingObserver observer(stop, c.stopAfter);
        settings.programmingBusy = true;
        const JobEnvironment environment{settings, rig.exchanges, &observer,
                                         c.serial ? &serial : nullptr, &stop};

        const JobReport report =
            RunJobWorker(JobKind::ProgramApplication, image.string(), environment);

        EXPECT_EQ(report.outcome, c.outcome);
        EXPECT_EQ(report.blocksSent, c.blocksSent);
        EXPECT_EQ(report.dataStarted, c.blocksSent > 0);
        EXPECT_FALSE(settings.programmingBusy);
        const std::vector<uint8_t> codes = rig.CommandCodes();
        auto sent = [&](uint8_t code) {
            return std::find(codes.begin(), codes.end(), code) != codes.end();
        };
        EXPECT_EQ(sent(packets::kProgramApplication), c.started);
        EXPECT_EQ(sent(packets::kEndOfData), c.ended);
        EXPECT_EQ(sent(packets::kAbort), c.aborted);
        if (c.outcome == JobOutcome::Success) {
            // The image with the serial's bytes at their place, nothing else changed.
            sim::FlashContents expected = farsend::testing::ContentsOf(runs);
            for (uint32_t i = 0; i < spec.size; ++i) expected[spec.address + i] = serial.bytes[i];
            EXPECT_EQ(rig.simulation->Target().Flash(), expected);
        }
    }
}

}  // namespace
}  // namespace farsend::jobs

namespace farsend::jobs {
namespace {

// --- A lost target, and a bridge that went with it -----------------------

// The job itself tells an unplugged bridge from a target that fell silent,
// at the exchange that failed, with the same box for both in the window.
TEST(WorkerLostTarget, TellsAnUnpluggedBridgeFromASilentTarget) {
    struct Case {
        const char* name;
        bool unplug;  // else the target falls silent
        JobOutcome outcome;
    };
    const Case cases[] = {
        {"unplugged", true, JobOutcome::BridgeUnplugged},
        {"silent", false, JobOutcome::CommunicationError},
    };
    const std::vector<sim::ImageRun> runs = {farsend::testing::PatternRun(0x4000, 3000)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimOptions options = farsend::testing::SimRig::DefaultOptions();
        // Past the handshake and the start, within the blocks.
        (c.unplug ? options.faults.unplug_after : options.faults.silence_after) = 1200;
        farsend::testing::SimRig rig(options);
        farsend::testing::TempDirectory directory;
        app::ToolSettings settings;
        const std::filesystem::path image = directory.path() / "Farsend_15_bt.hex";
        farsend::testing::WriteImageOfSize(image, runs, sim::FormatImage(runs).size());
        ASSERT_EQ(protocol::ConnectTarget(rig.exchanges), protocol::ExchangeResult::Ok);
        struct Problems final : StationObserver {
            void OnStationEvent(const StationEvent& event) override {
                if (const auto* problem = std::get_if<events::JobProblem>(&event)) {
                    seen.push_back(*problem);
                }
            }
            std::vector<events::JobProblem> seen;
        } problems;
        settings.programmingBusy = true;

        const JobReport report = RunJobWorker(JobKind::ProgramApplication, image.string(),
                                              {settings, rig.exchanges, &problems});

        EXPECT_EQ(report.outcome, c.outcome);
        EXPECT_TRUE(LostTheTarget(report.outcome));
        EXPECT_GT(report.blocksSent, 0u);
        ASSERT_EQ(problems.seen.size(), 1u);
        EXPECT_EQ(problems.seen[0].problem, events::JobProblemKind::CommunicationLost);
        EXPECT_EQ(problems.seen[0].bridgeGone, c.unplug);
        EXPECT_EQ(JobProblemMessage(problems.seen[0]).text, kCommunicationErrorText);
    }
}

}  // namespace
}  // namespace farsend::jobs

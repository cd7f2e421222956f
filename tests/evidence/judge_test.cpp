#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>

#include "cli/sha256.h"
#include "evidence/campaign.h"
#include "evidence/flash_compare.h"
#include "evidence/gang_campaign.h"
#include "sim/sim_bridge.h"
#include "sim/sim_options.h"
#include "support/temp_directory.h"

namespace farsend::evidence {
namespace {

TEST(FirstDifference, NamesTheFirstAddressWhereTheMapsDisagree) {
    const ByteMap image = {{0x4000, 0x11}, {0x4001, 0x22}, {0x4100, 0x33}};
    struct Case {
        ByteMap flash;
        std::string expected;
    };
    const Case cases[] = {
        {image, ""},
        {{{0x4000, 0x11}, {0x4001, 0x23}, {0x4100, 0x33}}, "0x4001: flash 23, image 22"},
        {{{0x4000, 0x11}, {0x4001, 0x22}}, "0x4100: missing from the flash (image 33)"},
        {{{0x4000, 0x11}, {0x4001, 0x22}, {0x4002, 0x00}, {0x4100, 0x33}},
         "0x4002: 00 in the flash, not in the image"},
        {{}, "0x4000: missing from the flash (image 11)"},
    };
    for (const Case& c : cases) EXPECT_EQ(FirstDifference(c.flash, image), c.expected);
}

TEST(SanitizerReport, IsRecognisedFromEachSanitizer) {
    EXPECT_TRUE(HasSanitizerReport("==12==ERROR: AddressSanitizer: heap-use-after-free"));
    EXPECT_TRUE(HasSanitizerReport("==12==ERROR: LeakSanitizer: detected memory leaks"));
    EXPECT_TRUE(HasSanitizerReport("x.cpp:3:5: runtime error: signed integer overflow"));
    EXPECT_TRUE(HasSanitizerReport("WARNING: ThreadSanitizer: data race (pid=1)"));
    EXPECT_FALSE(HasSanitizerReport("farsend: communication error: no answer to BlockFollows"));
}

// A run is judged by what the process said against what the flash holds.
class JudgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = (dir.path() / "Farsend_15_bt.hex").string();
        flash = (dir.path() / "flash-out.hex").string();
        ASSERT_TRUE(sim::WriteImageFile(image, {{0x4000, {1, 2, 3}}, {0x4100, {4}}}));
    }
    void WriteFlash(const std::vector<sim::ImageRun>& runs) {
        ASSERT_TRUE(sim::WriteImageFile(flash, runs));
    }
    static ChildResult Exited(int status, std::string err = "") {
        ChildResult child;
        child.end = ChildEnd::Exited;
        child.exitStatus = status;
        child.err = std::move(err);
        return child;
    }
    static RunPlan Plan(Scenario scenario) {
        RunPlan plan;
        plan.scenario = scenario;
        return plan;
    }
    Verdict Run(Scenario scenario, const ChildResult& child) {
        detail.clear();
        return Judge(Plan(scenario), child, image, flash, detail);
    }

    testing::TempDirectory dir;
    std::string image, flash, detail;
};

TEST_F(JudgeTest, SuccessCountsOnlyWhenTheFlashHoldsTheImage) {
    WriteFlash({{0x4000, {1, 2, 3}}, {0x4100, {4}}});
    EXPECT_EQ(Run(Scenario::Drop, Exited(0)), Verdict::Success);

    WriteFlash({{0x4000, {1, 2, 3}}, {0x4100, {5}}});
    EXPECT_EQ(Run(Scenario::Drop, Exited(0)), Verdict::FalseSuccess);
    EXPECT_EQ(detail, "reported success, but 0x4100: flash 05, image 04");

    // Zero bytes written past the end of a run, as a flipped count would.
    WriteFlash({{0x4000, {1, 2, 3, 0}}, {0x4100, {4}}});
    EXPECT_EQ(Run(Scenario::Flip, Exited(0)), Verdict::FalseSuccess);

    WriteFlash({{0x4000, {1, 2, 3}}});
    EXPECT_EQ(Run(Scenario::Flip, Exited(0)), Verdict::FalseSuccess);

    std::filesystem::remove(flash);
    EXPECT_EQ(Run(Scenario::None, Exited(0)), Verdict::FalseSuccess);
}

TEST_F(JudgeTest, SuccessForAFileThatHadToBeRefusedIsADefect) {
    WriteFlash({{0x4000, {1, 2, 3}}, {0x4100, {4}}});
    EXPECT_EQ(Run(Scenario::WrongTarget, Exited(0)), Verdict::MissedRefusal);
    EXPECT_EQ(Run(Scenario::MalformedFile, Exited(0)), Verdict::MissedRefusal);
}

TEST_F(JudgeTest, FailuresMustSayWhyWithAFailureStatus) {
    struct Case {
        Scenario scenario;
        ChildResult child;
        Verdict expected;
    };
    const Case cases[] = {
        {Scenario::Drop, Exited(6, "communication error\n"), Verdict::Failure},
        {Scenario::Silence, Exited(5, "no target called\n"), Verdict::Failure},
        {Scenario::Flip, Exited(7, "erase error\n"), Verdict::Failure},
        {Scenario::Flip, Exited(4, "does not fit\n"), Verdict::Failure},
        {Scenario::Drop, Exited(6, " \n"), Verdict::Unexplained},
        {Scenario::Drop, Exited(2, "usage\n"), Verdict::Unexplained},
        {Scenario::Drop, Exited(1, "x\n"), Verdict::Unexplained},
        {Scenario::Drop, Exited(8, "x\n"), Verdict::Unexplained},
        {Scenario::WrongTarget, Exited(4, "does not fit\n"), Verdict::Failure},
        {Scenario::WrongTarget, Exited(6, "communication\n"), Verdict::Unexplained},
        {Scenario::MalformedFile, Exited(3, "line 9\n"), Verdict::Failure},
        {Scenario::MalformedFile, Exited(6, "x\n"), Verdict::Unexplained},
        {Scenario::None, Exited(6, "communication error\n"), Verdict::ControlFailed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.scenario, c.child), c.expected)
            << ScenarioName(c.scenario) << " exit " << c.child.exitStatus << ": " << detail;
    }
}

// A file changed during the run: success only when the flash holds what the
// record's sha256 names, and that is something the file really held.
TEST_F(JudgeTest, AChangedFileCountsOnlyAsTheContentTheRecordNames) {
    RunPlan plan = Plan(Scenario::FileChanged);
    plan.fileChange = FileChange::Rewrite;
    plan.image = {{0x4000, {1, 2, 3}}, {0x4100, {4}}};
    plan.replacement = {{0x4000, {9, 9}}};
    const std::string before = plan.ImageText();
    const std::string cut = before.substr(0, before.find('\n') + 1) + "01 02\r\n";
    ASSERT_EQ(before.rfind(cut.substr(0, cut.size() - 2), 0), 0u) << before;  // a prefix
    struct Case {
        std::string recorded;  // the text whose digest the record names
        std::vector<sim::ImageRun> flash;
        Verdict expected;
    };
    const Case cases[] = {
        {before, plan.image, Verdict::Success},
        {plan.ReplacementText(), plan.replacement, Verdict::Success},
        {cut.substr(0, cut.size() - 2), {{0x4000, {1, 2}}}, Verdict::Success},  // cut short
        // A mix of the two: the fault of a job that read the file twice.
        {plan.ReplacementText(), {{0x4000, {9, 9, 3}}, {0x4100, {4}}}, Verdict::FalseSuccess},
        {before, plan.replacement, Verdict::FalseSuccess},
        {"never in the file", plan.image, Verdict::FalseSuccess},
    };
    const std::string report = ReportPath(flash);
    for (const Case& c : cases) {
        WriteFlash(c.flash);
        std::ofstream(report) << "{\"file\":\"x\",\"sha256\":\"" << cli::Sha256Hex(c.recorded)
                              << "\"}\n";
        detail.clear();
        EXPECT_EQ(Judge(plan, Exited(0), image, flash, detail), c.expected) << detail;
    }
    std::filesystem::remove(report);
    detail.clear();
    EXPECT_EQ(Judge(plan, Exited(0), image, flash, detail), Verdict::FalseSuccess);
    EXPECT_EQ(detail, "reported success, but its record names no sha256");
}

TEST_F(JudgeTest, HangsCrashesAndSanitizerReportsAreDefectsWhateverTheStatus) {
    ChildResult hang;
    hang.end = ChildEnd::TimedOut;
    EXPECT_EQ(Run(Scenario::Drop, hang), Verdict::Hang);

    ChildResult crash;
    crash.end = ChildEnd::Signalled;
    crash.signal = 11;
    EXPECT_EQ(Run(Scenario::Drop, crash), Verdict::Crash);

    WriteFlash({{0x4000, {1, 2, 3}}, {0x4100, {4}}});
    EXPECT_EQ(Run(Scenario::Drop, Exited(0, "==7==ERROR: LeakSanitizer: detected memory leaks")),
              Verdict::Crash);
    EXPECT_EQ(Run(Scenario::Drop, Exited(6, "a.cpp:1:1: runtime error: shift exponent")),
              Verdict::Crash);

    ChildResult missing;
    missing.end = ChildEnd::NotStarted;
    EXPECT_EQ(Run(Scenario::None, missing), Verdict::Crash);
}

}  // namespace
}  // namespace farsend::evidence

namespace farsend::evidence {
namespace {

TEST(GangStatus, TheMostSeriousFollowsTheProductionOrder) {
    struct Case {
        std::vector<int> statuses;
        int expected;
    };
    const Case cases[] = {
        {{}, 0},        {{0, 0, 0}, 0}, {{0, 5}, 5},    {{5, 3}, 3},    {{3, 4}, 4},
        {{4, 6, 0}, 6}, {{6, 7}, 7},    {{7, 8, 6}, 8}, {{1, 0}, 1},    {{1, 5}, 5},
        {{2, 0}, 2},    {{2, 1}, 1},    {{0, 5, 4}, 4}, {{5, 6, 3}, 6},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MostSeriousStatus(c.statuses), c.expected)
            << ::testing::PrintToString(c.statuses);
    }
}

// Three stations, bridge 2 with faults; each station judged by its record
// and its own flash file, the process by its status.
class GangJudgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        plan.image = {{0x4000, {1, 2, 3}}, {0x4100, {4}}};
        plan.fileName = "Farsend_15_bt.hex";
        plan.stations.resize(3);
        plan.stations[1].scenario = Scenario::Drop;
        plan.stations[1].faults = "drop=0.001";
        image = (dir.path() / plan.fileName).string();
        flash = (dir.path() / "flash-out.hex").string();
        report = (dir.path() / "units.jsonl").string();
        ASSERT_TRUE(sim::WriteImageFile(image, plan.image));
        std::ifstream in(image, std::ios::binary);
        digest = cli::Sha256Hex(std::string(std::istreambuf_iterator<char>(in), {}));
        for (uint32_t k = 1; k <= 3; ++k) WriteFlash(k, plan.image);
    }
    void WriteFlash(uint32_t bridge, const std::vector<sim::ImageRun>& runs) {
        ASSERT_TRUE(sim::WriteImageFile(sim::BridgeFileName(flash, bridge, 3), runs));
    }
    std::string Line(const std::string& station, int status, const std::string& message = "",
                     const std::string& sha = "") const {
        return "{\"command\":\"program\",\"status\":" + std::to_string(status) + ",\"message\":\"" +
               message + "\",\"sha256\":\"" + (sha.empty() ? digest : sha) + "\",\"station\":\"" +
               station + "\"}\n";
    }
    static ChildResult Exited(int status, std::string err = "") {
        ChildResult child;
        child.end = ChildEnd::Exited;
        child.exitStatus = status;
        child.err = std::move(err);
        return child;
    }

    testing::TempDirectory dir;
    GangPlan plan;
    std::string image, flash, report, digest;
};

TEST_F(GangJudgeTest, EachStationIsJudgedOnItsOwnRecordAndFlash) {
    std::string error;
    const ByteMap bytes = *ReadByteMap(image, error);
    const std::vector<sim::ImageRun> wrong = {{0x4000, {1, 2, 3}}, {0x4100, {5}}};
    struct Case {
        std::string what;
        uint32_t bridge;
        Scenario scenario;  // of that bridge's station
        std::optional<StationRecord> record;
        std::vector<sim::ImageRun> flash;
        std::string err;
        Verdict expected;
        int status;
    };
    const auto rec = [&](int status, std::string message = "", std::string sha = "",
                         std::string command = "program") {
        return StationRecord{"x", std::move(command), status, std::move(message),
                             sha.empty() ? digest : std::move(sha)};
    };
    const std::string says2 = "[sim-usb-1.5] farsend: communication error\n";
    const Case cases[] = {
        {"programmed", 1, Scenario::None, rec(0), plan.image, "", Verdict::Success, 0},
        {"faulty, programmed", 2, Scenario::Drop, rec(0), plan.image, "", Verdict::Success, 0},
        {"success, flash differs", 2, Scenario::Drop, rec(0), wrong, "", Verdict::FalseSuccess, 0},
        {"success, another file's digest", 2, Scenario::Drop, rec(0, "", std::string(64, 'a')),
         plan.image, "", Verdict::FalseSuccess, 0},
        {"faulty, failed", 2, Scenario::Drop, rec(6, "communication error"), wrong, says2,
         Verdict::Failure, 6},
        {"failed, told only in the record", 2, Scenario::Drop, rec(6, "communication error"), wrong,
         "[sim-usb-1.4] farsend: communication error\n", Verdict::Unexplained, 6},
        {"failed without a message", 2, Scenario::Drop, rec(6, " "), wrong, "",
         Verdict::Unexplained, 6},
        {"failed with 2", 2, Scenario::Drop, rec(2, "usage"), wrong, "", Verdict::Unexplained, 2},
        {"failed with 8", 2, Scenario::Drop, rec(8, "x"), wrong, "", Verdict::Unexplained, 8},
        {"record of another command", 1, Scenario::None, rec(0, "", "", "watch"), plan.image, "",
         Verdict::Unexplained, 0},
        {"clean, failed beside a faulty one", 1, Scenario::None, rec(6, "communication error"),
         wrong, "[sim-usb-1.4] farsend: communication error\n", Verdict::CrossTalk, 6},
        {"ZigBee target refused", 3, Scenario::WrongTarget, rec(4, "does not fit"), wrong,
         "[sim-usb-1.6] does not fit\n", Verdict::Failure, 4},
        {"ZigBee target programmed", 3, Scenario::WrongTarget, rec(0), plan.image, "",
         Verdict::MissedRefusal, 0},
        {"ZigBee target, communication error", 3, Scenario::WrongTarget, rec(6, "x"), wrong, "",
         Verdict::Unexplained, 6},
        {"no record, no word why", 2, Scenario::Drop, std::nullopt, wrong, "", Verdict::Unexplained,
         -1},
        {"no record, another station's target never called", 2, Scenario::Drop, std::nullopt, wrong,
         "[sim-usb-1.4] farsend: no target called within 30 s (--wait).\n", Verdict::Unexplained,
         -1},
        {"no record, its target never called", 2, Scenario::Drop, std::nullopt, wrong,
         "[sim-usb-1.5] farsend: no target called within 30 s (--wait).\n", Verdict::Failure, 5},
        {"clean, its target never called", 1, Scenario::None, std::nullopt, wrong,
         "[sim-usb-1.4] farsend: no target called within 30 s (--wait).\n", Verdict::CrossTalk, 5},
    };
    for (const Case& c : cases) {
        GangPlan p = plan;
        p.stations[c.bridge - 1].scenario = c.scenario;
        WriteFlash(c.bridge, c.flash);
        const StationOutcome outcome =
            JudgeStation(p, c.bridge, c.record ? &*c.record : nullptr, bytes, digest,
                         sim::BridgeFileName(flash, c.bridge, 3), c.err);
        EXPECT_EQ(outcome.verdict, c.expected) << c.what << ": " << outcome.detail;
        EXPECT_EQ(outcome.status, c.status) << c.what;
        EXPECT_EQ(outcome.detail.empty(), !IsDefect(c.expected))
            << c.what << ": " << outcome.detail;
    }

    // The same failure of a clean station in a gang without any faults is a
    // failed control, not cross-talk.
    GangPlan control = plan;
    control.stations[1] = GangStation{};
    const StationRecord failed = rec(6, "communication error");
    EXPECT_EQ(JudgeStation(control, 1, &failed, bytes, digest, flash, "[sim-usb-1.4] e\n").verdict,
              Verdict::ControlFailed);
}

TEST_F(GangJudgeTest, TheRunNeedsOneRecordPerStationAndTheMostSeriousStatus) {
    const std::string s1 = sim::SimBridge::LocationOf(1), s2 = sim::SimBridge::LocationOf(2),
                      s3 = sim::SimBridge::LocationOf(3);
    const std::string noTarget = "[" + s2 + "] farsend: no target called within 30 s\n";
    struct Case {
        std::string what;
        std::string records;  // the report file ("-": none written)
        ChildResult child;
        Verdict expected;
    };
    const Case cases[] = {
        {"all programmed", Line(s1, 0) + Line(s3, 0) + Line(s2, 0), Exited(0), Verdict::Success},
        {"the faulty one failed", Line(s1, 0) + Line(s2, 6, "e") + Line(s3, 0),
         Exited(6, "[" + s2 + "] e\n"), Verdict::Failure},
        {"the faulty one failed, another one named", Line(s1, 0) + Line(s2, 6, "e") + Line(s3, 0),
         Exited(6, "[" + s1 + "] e\n"), Verdict::Unexplained},
        {"exit 0 though one failed", Line(s1, 0) + Line(s2, 6, "e") + Line(s3, 0), Exited(0, "e\n"),
         Verdict::Unexplained},
        {"exit 7 where the most serious is 6", Line(s1, 0) + Line(s2, 6, "e") + Line(s3, 0),
         Exited(7, "e\n"), Verdict::Unexplained},
        {"exit without a message", Line(s1, 0) + Line(s2, 6, "e") + Line(s3, 0), Exited(6),
         Verdict::Unexplained},
        {"a station recorded twice", Line(s1, 0) + Line(s2, 0) + Line(s3, 0) + Line(s3, 0),
         Exited(0), Verdict::Unexplained},
        {"a record of no station here",
         Line(s1, 0) + Line(s2, 0) + Line(s3, 0) + Line("sim-usb-1.9", 0), Exited(0),
         Verdict::Unexplained},
        {"a line that is no record", Line(s1, 0) + "{\"station\":3}\n", Exited(0),
         Verdict::Unexplained},
        {"a station's record missing", Line(s1, 0) + Line(s3, 0), Exited(0), Verdict::Unexplained},
        {"no report at all", "-", Exited(6, "e\n"), Verdict::Unexplained},
        {"the faulty one's target never called", Line(s1, 0) + Line(s3, 0), Exited(5, noTarget),
         Verdict::Failure},
        {"never called, exit 0", Line(s1, 0) + Line(s3, 0), Exited(0, noTarget),
         Verdict::Unexplained},
        {"never called beside a 6", Line(s1, 6, "e") + Line(s3, 0),
         Exited(6, noTarget + "[" + s1 + "] e\n"), Verdict::CrossTalk},
        {"a false success outweighs a wrong status",
         Line(s1, 0) + Line(s2, 0, "", std::string(64, 'b')) + Line(s3, 0), Exited(6, "e\n"),
         Verdict::FalseSuccess},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(report);
        if (c.records != "-") std::ofstream(report, std::ios::binary) << c.records;
        std::vector<StationOutcome> stations;
        std::string detail;
        EXPECT_EQ(JudgeGang(plan, c.child, image, flash, report, stations, detail), c.expected)
            << c.what << ": " << detail;
        EXPECT_EQ(stations.size(), 3u) << c.what;
    }

    ChildResult hang;
    hang.end = ChildEnd::TimedOut;
    ChildResult crash;
    crash.end = ChildEnd::Signalled;
    crash.signal = 6;
    std::vector<StationOutcome> stations;
    std::string detail;
    std::ofstream(report, std::ios::binary) << Line(s1, 0) + Line(s2, 0) + Line(s3, 0);
    EXPECT_EQ(JudgeGang(plan, hang, image, flash, report, stations, detail), Verdict::Hang);
    EXPECT_EQ(JudgeGang(plan, crash, image, flash, report, stations, detail), Verdict::Crash);
    EXPECT_EQ(JudgeGang(plan, Exited(0, "==9==ERROR: AddressSanitizer: heap-buffer-overflow"),
                        image, flash, report, stations, detail),
              Verdict::Crash);
}

// The real farsend process: one clean station, one whose bridge is pulled
// in the middle of the job, one with a ZigBee target; the clean one must be
// programmed, the others fail each in its own way, and the process report
// the gravest.
TEST(GangRun, AFaultOnOneStationLeavesTheOthersToTheirOwnResults) {
    testing::TempDirectory dir;
    GangPlan plan;
    plan.index = 7;
    plan.fileName = "Farsend_15_bt.hex";
    plan.baud = 115200;
    std::vector<uint8_t> data(3000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
    plan.image = {{0x4000, data}};
    plan.stations.resize(3);
    plan.stations[1] = GangStation{Scenario::Unplug, "unplug=1500"};
    plan.stations[2] = GangStation{Scenario::WrongTarget, ""};
    CampaignOptions options;
    options.farsend = FARSEND_CLI_EXE;
    options.keepAll = true;
    const GangOutcome outcome = RunGangPlanned(options, dir.path().string(), plan);
    ASSERT_EQ(outcome.child.end, ChildEnd::Exited) << outcome.child.err;
    EXPECT_EQ(outcome.verdict, Verdict::Failure) << outcome.detail << "\n" << outcome.child.err;
    ASSERT_EQ(outcome.stations.size(), 3u);
    EXPECT_EQ(outcome.stations[0].verdict, Verdict::Success) << outcome.stations[0].detail;
    EXPECT_EQ(outcome.stations[1].verdict, Verdict::Failure) << outcome.stations[1].detail;
    EXPECT_EQ(outcome.stations[2].status, 4);
    EXPECT_GE(outcome.stations[1].status, 5);
    EXPECT_EQ(outcome.child.exitStatus,
              MostSeriousStatus({outcome.stations[1].status, outcome.stations[2].status}));

    // The same gang without faults programs all three.
    plan.stations.assign(3, GangStation{});
    const GangOutcome clean = RunGangPlanned(options, dir.path().string() + "/clean", plan);
    EXPECT_EQ(clean.verdict, Verdict::Success) << clean.detail << "\n" << clean.child.err;
    EXPECT_EQ(clean.child.exitStatus, 0);
}

}  // namespace
}  // namespace farsend::evidence

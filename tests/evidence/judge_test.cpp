#include <gtest/gtest.h>

#include <fstream>

#include "cli/sha256.h"
#include "evidence/campaign.h"
#include "evidence/flash_compare.h"
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

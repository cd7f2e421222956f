#include "evidence/campaign.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/temp_directory.h"

namespace farsend::evidence {
namespace {

namespace fs = std::filesystem;

// A stand-in for farsend that claims success: it copies the image to the
// flash-out file, then appends `extra` to it.
std::string FakeProgrammer(const testing::TempDirectory& dir, const std::string& name,
                           const std::string& extra) {
    const fs::path path = dir.path() / name;
    std::ofstream script(path);
    script << "#!/bin/sh\n"
              "for w in \"$@\"; do\n"
              "  case \"$w\" in --sim-flash-out=*) out=\"${w#--sim-flash-out=}\";; esac\n"
              "  image=\"$w\"\n"
              "done\n"
              "cp \"$image\" \"$out\"\n"
              "printf '"
           << extra << "' >> \"$out\"\nexit 0\n";
    script.close();
    ::chmod(path.c_str(), 0755);
    return path.string();
}

RunPlan PlanWith(Scenario scenario, uint32_t index, const std::string& faults = "") {
    RunPlan plan = PlanRun(11, index);
    plan.scenario = scenario;
    plan.faults = faults;
    plan.malformedTail.clear();
    plan.fileName = "Farsend_15_bt.hex";
    return plan;
}

CampaignOptions Options(const std::string& program) {
    CampaignOptions options;
    options.farsend = program;
    options.limit = std::chrono::seconds(120);
    return options;
}

TEST(Campaign, CatchesAProgramThatClaimsSuccessForAFlashThatDiffers) {
    testing::TempDirectory dir;
    const RunOutcome liar =
        RunPlanned(Options(FakeProgrammer(dir, "liar", "\\nFFFF0000\\n5A\\n")), dir.path().string(),
                   PlanWith(Scenario::Flip, 1, "flip=0.001"));
    EXPECT_EQ(liar.verdict, Verdict::FalseSuccess) << liar.detail;
    EXPECT_EQ(liar.detail, "reported success, but 0xFFFF0000: 5A in the flash, not in the image");
    EXPECT_TRUE(fs::exists(liar.directory)) << "a defect keeps its files";

    const RunOutcome honest = RunPlanned(Options(FakeProgrammer(dir, "honest", "")),
                                         dir.path().string(), PlanWith(Scenario::Flip, 2));
    EXPECT_EQ(honest.verdict, Verdict::Success) << honest.detail;
    EXPECT_FALSE(fs::exists(honest.directory)) << "a good run leaves nothing behind";
}

// The real program over the simulated target, one run of each kind of end.
TEST(Campaign, JudgesRealRunsOfFarsend) {
    testing::TempDirectory dir;
    const CampaignOptions options = Options(FARSEND_CLI_EXE);
    struct Case {
        RunPlan plan;
        Verdict verdict;
        int status;
    };
    RunPlan wrongTarget = PlanWith(Scenario::WrongTarget, 5);
    wrongTarget.fileName = "Farsend_20_802.hex";
    wrongTarget.noValidate = false;
    RunPlan malformed = PlanWith(Scenario::MalformedFile, 6);
    malformed.malformedTail = "\n0x12\n";
    const Case cases[] = {
        {PlanWith(Scenario::None, 3), Verdict::Success, 0},
        {PlanWith(Scenario::Silence, 4, "silence=0"), Verdict::Failure, 5},
        {PlanWith(Scenario::Unplug, 7, "unplug=40"), Verdict::Failure, 6},
        {wrongTarget, Verdict::Failure, 4},
        {malformed, Verdict::Failure, 3},
    };
    for (const Case& c : cases) {
        const RunOutcome outcome = RunPlanned(options, dir.path().string(), c.plan);
        EXPECT_EQ(outcome.verdict, c.verdict)
            << ScenarioName(c.plan.scenario) << ": " << outcome.detail << "\n"
            << outcome.child.err;
        EXPECT_EQ(outcome.child.exitStatus, c.status) << ScenarioName(c.plan.scenario);
    }
}

TEST(Campaign, TalliesRunsByStatusAndVerdict) {
    std::vector<RunOutcome> outcomes(4);
    outcomes[0].verdict = Verdict::Success;
    outcomes[0].child.end = ChildEnd::Exited;
    outcomes[0].child.exitStatus = 0;
    outcomes[1].verdict = Verdict::Failure;
    outcomes[1].child.end = ChildEnd::Exited;
    outcomes[1].child.exitStatus = 6;
    outcomes[1].plan.scenario = Scenario::Drop;
    outcomes[2].verdict = Verdict::FalseSuccess;
    outcomes[2].child.end = ChildEnd::Exited;
    outcomes[2].child.exitStatus = 0;
    outcomes[3].verdict = Verdict::Hang;
    outcomes[3].child.end = ChildEnd::TimedOut;
    const CampaignTally tally = Tally(outcomes);
    EXPECT_EQ(tally.runs, 4u);
    EXPECT_EQ(tally.Count(Verdict::Success), 1u);
    EXPECT_EQ(tally.exitStatuses[0], 2u);
    EXPECT_EQ(tally.exitStatuses[6], 1u);
    EXPECT_EQ(tally.Defects(), 2u);
    EXPECT_EQ(tally.scenarioRuns[static_cast<int>(Scenario::None)], 3u);
    EXPECT_EQ(tally.scenarioSuccesses[static_cast<int>(Scenario::None)], 2u);
}

}  // namespace
}  // namespace farsend::evidence

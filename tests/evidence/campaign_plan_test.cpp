#include "evidence/campaign_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "evidence/flash_compare.h"
#include "sim/sim_options.h"
#include "support/temp_directory.h"

namespace farsend::evidence {
namespace {

TEST(CampaignPlan, TheSameSeedAndRunGiveTheSameRunAndOthersDiffer) {
    const RunPlan a = PlanRun(7, 12);
    const RunPlan b = PlanRun(7, 12);
    EXPECT_EQ(a.Arguments("i", "f"), b.Arguments("i", "f"));
    EXPECT_EQ(a.ImageBytes(), b.ImageBytes());
    EXPECT_EQ(a.image.front().data, b.image.front().data);

    std::set<std::vector<std::string>> seen;
    for (uint32_t index = 0; index < 50; ++index)
        seen.insert(PlanRun(7, index).Arguments("i", "f"));
    for (uint32_t index = 0; index < 50; ++index)
        seen.insert(PlanRun(8, index).Arguments("i", "f"));
    EXPECT_EQ(seen.size(), 100u);
}

TEST(CampaignPlan, OverManyRunsEveryScenarioAndFaultKindComesUp) {
    std::set<Scenario> scenarios;
    std::set<std::string> kinds;
    std::set<uint32_t> reportLengths;
    bool legacy = false, factory = false, noValidate = false;
    std::set<FileChange> changes;
    for (uint32_t index = 0; index < 600; ++index) {
        const RunPlan plan = PlanRun(1, index);
        scenarios.insert(plan.scenario);
        for (const char* kind : {"drop=", "flip=", "noise=", "silence=", "unplug="}) {
            if (plan.faults.find(kind) != std::string::npos) kinds.insert(kind);
        }
        reportLengths.insert(plan.reportLength);
        legacy = legacy || plan.legacyHid;
        factory = factory || plan.factory;
        noValidate = noValidate || plan.noValidate;
        changes.insert(plan.fileChange);
    }
    EXPECT_EQ(changes.size(), 3u);  // none, rewritten, cut short
    EXPECT_EQ(scenarios.size(), static_cast<size_t>(kScenarioCount));
    EXPECT_EQ(kinds.size(), 5u);
    EXPECT_EQ(reportLengths, (std::set<uint32_t>{9, 33, 65}));
    EXPECT_TRUE(legacy && factory && noValidate);
}

// Every run's words must be accepted by the simulator's own parser, and the
// faults a plan names must be the ones it asked for.
TEST(CampaignPlan, FaultListsReadBackThroughTheSimulatorsParser) {
    for (uint32_t index = 0; index < 300; ++index) {
        const RunPlan plan = PlanRun(3, index);
        sim::FaultPlan faults;
        std::string error;
        ASSERT_TRUE(sim::ParseFaultList(plan.faults, faults, error))
            << plan.faults << ": " << error;
        const bool any = faults.drop_ppb || faults.flip_ppb || faults.noise_ppb ||
                         faults.silence_after || faults.unplug_after;
        // A changing file is the run's one fault: the line stays clean.
        const bool faultFree = plan.scenario == Scenario::None || plan.MustFail() ||
                               plan.scenario == Scenario::FileChanged;
        EXPECT_EQ(any, !faultFree) << index << ": " << plan.faults;

        std::vector<std::string> words = plan.Arguments("image.hex", "flash.hex");
        const sim::SimOptionsResult parsed = sim::TakeSimOptions(words);
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        EXPECT_EQ(parsed.options.faults, faults);
        EXPECT_EQ(parsed.options.report_length, plan.reportLength);
        EXPECT_EQ(parsed.options.flash_out, "flash.hex");
        // Such a run is judged by its record's digest.
        const bool reported = std::find(words.begin(), words.end(), "--report") != words.end();
        EXPECT_EQ(reported, plan.scenario == Scenario::FileChanged) << index;
    }
}

TEST(CampaignPlan, ProbabilitiesSurviveTheirTextForm) {
    const uint32_t cases[] = {1, 9, 10, 12000, 123456789, 500000000, 999999999, 1000000000};
    for (uint32_t ppb : cases) {
        sim::FaultPlan faults;
        std::string error;
        ASSERT_TRUE(sim::ParseFaultList("flip=" + FormatProbability(ppb), faults, error))
            << FormatProbability(ppb) << ": " << error;
        EXPECT_EQ(faults.flip_ppb, ppb) << FormatProbability(ppb);
    }
}

// The generated images are well formed (the malformed ones only through the
// tail the run appends), and the reader sees exactly the bytes planned.
TEST(CampaignPlan, ImagesReadBackWithTheirPlannedBytes) {
    testing::TempDirectory dir;
    for (uint32_t index = 0; index < 40; ++index) {
        const RunPlan plan = PlanRun(5, index);
        const std::string path = (dir.path() / ("image-" + std::to_string(index))).string();
        ASSERT_TRUE(sim::WriteImageFile(path, plan.image));
        std::string error;
        const std::optional<ByteMap> bytes = ReadByteMap(path, error);
        ASSERT_TRUE(bytes) << error;
        EXPECT_EQ(bytes->size(), plan.ImageBytes());
        for (const sim::ImageRun& run : plan.image) {
            EXPECT_EQ(bytes->at(run.address), run.data.front());
            EXPECT_EQ(bytes->at(run.address + static_cast<uint32_t>(run.data.size()) - 1),
                      run.data.back());
        }
    }
}

// A gang plan's words, read back through the simulator's parser, give each
// bridge exactly the faults and the target its station was planned with;
// over many runs every size and station scenario comes up, and apart from
// the control gangs, every gang has both a faulty station and a clean one.
TEST(GangPlan, EachBridgeGetsItsStationsFaultsAndSomeStationsStayClean) {
    std::set<size_t> sizes;
    std::set<Scenario> scenarios;
    uint32_t controls = 0;
    std::set<std::vector<std::string>> seen;
    const uint32_t kRuns = 400;
    for (uint32_t index = 0; index < kRuns; ++index) {
        const GangPlan plan = PlanGangRun(1, index);
        std::vector<std::string> words = plan.Arguments("image.hex", "flash.hex", "units.jsonl");
        EXPECT_EQ(words, PlanGangRun(1, index).Arguments("image.hex", "flash.hex", "units.jsonl"));
        seen.insert(words);
        const auto size = static_cast<uint32_t>(plan.stations.size());
        sizes.insert(size);
        ASSERT_GE(size, 2u);
        ASSERT_LE(size, 4u);

        const sim::SimOptionsResult parsed = sim::TakeSimOptions(words);
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        EXPECT_EQ(parsed.options.bridges, size);
        EXPECT_EQ(parsed.options.faults, sim::FaultPlan{});  // nothing for all bridges
        std::vector<std::string> rest = {"--quiet"};
        if (plan.factory) rest.push_back("--factory");
        if (plan.noValidate) rest.push_back("--no-validate");
        rest.insert(rest.end(), {"--report", "units.jsonl", "program", "--all", "image.hex"});
        EXPECT_EQ(words, rest);
        uint32_t clean = 0;
        for (uint32_t k = 1; k <= size; ++k) {
            const GangStation& station = plan.stations[k - 1];
            scenarios.insert(station.scenario);
            clean += station.Clean();
            const sim::SimOptions bridge = sim::ForBridge(parsed.options, k);
            sim::FaultPlan faults;
            std::string error;
            ASSERT_TRUE(sim::ParseFaultList(station.faults, faults, error)) << error;
            EXPECT_EQ(bridge.faults, faults) << index << " bridge " << k;
            const bool lineFaults = !(faults == sim::FaultPlan{});
            EXPECT_EQ(lineFaults, !station.Clean() && station.scenario != Scenario::WrongTarget)
                << index << " bridge " << k << ": " << station.faults;
            EXPECT_EQ(bridge.variant == "ZigBee", station.scenario == Scenario::WrongTarget);
            EXPECT_EQ(bridge.flash_out, sim::BridgeFileName("flash.hex", k, size));
            if (station.scenario == Scenario::WrongTarget) {
                EXPECT_FALSE(plan.noValidate);
            }
        }
        if (clean == size) {
            ++controls;
            EXPECT_FALSE(plan.AnyFaulty());
        } else {
            EXPECT_GE(clean, 1u) << index;
            EXPECT_TRUE(plan.AnyFaulty());
        }
    }
    EXPECT_EQ(seen.size(), kRuns);
    EXPECT_EQ(sizes, (std::set<size_t>{2, 3, 4}));
    EXPECT_EQ(scenarios, (std::set<Scenario>{Scenario::None, Scenario::Drop, Scenario::Flip,
                                             Scenario::Noise, Scenario::Silence, Scenario::Unplug,
                                             Scenario::Mixed, Scenario::WrongTarget}));
    EXPECT_GT(controls, 0u);
    EXPECT_LT(controls, kRuns / 10);
}

}  // namespace
}  // namespace farsend::evidence

// A station's jobs as a front end asks for them: what keeps one from
// running, and the job itself against the simulated target.
#include "jobs/station_controller.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "job_test_support.h"
#include "protocol/exchanges.h"
#include "support/temp_directory.h"

namespace farsend::jobs {
namespace {

using farsend::testing::SimRig;
namespace packets = sim::packets;

class FrontEnd final : public StationFrontEnd {
public:
    std::optional<std::string> ChooseFile() override {
        ++asked;
        return file;
    }
    bool ConfirmEraseAll() override {
        ++confirmations;
        return yes;
    }
    std::optional<std::string> file;
    bool yes = false;
    int asked = 0;
    int confirmations = 0;
};

enum class Job { Program, Erase, EraseAll };

struct RefusalCase {
    const char* name;
    Job job;
    bool connected;
    bool busy;
    bool monitorHoldsLink;
    JobRefusal refusal;
    int asked;          // files asked for
    int confirmations;  // erase-all questions
};

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, LeaveTheStationAsItWas) {
    const RefusalCase& c = GetParam();
    app::ToolSettings settings;  // no file chosen
    link::HidSerialLink link;    // no platform: nothing can reach a target
    protocol::ExchangeContext exchanges{link};
    if (c.connected) settings.connectionState = ConnectionState::Connected;
    if (c.job == Job::EraseAll) settings.flashMode = FlashMode::BootloaderAndApplication;
    std::atomic<bool>& busy =
        c.job == Job::Program ? settings.programmingBusy : settings.erasingBusy;
    busy = c.busy;
    std::optional<LinkClaim> monitor;
    if (c.monitorHoldsLink) monitor.emplace(settings.linkUser, LinkUser::Monitor);
    FrontEnd frontEnd;

    const JobEnvironment environment{settings, exchanges};
    const JobAttempt attempt = c.job == Job::Program
                                   ? ProgramStation(environment, settings, frontEnd)
                                   : EraseStation(environment, settings, frontEnd);

    EXPECT_EQ(attempt.refusal, c.refusal) << JobRefusalName(attempt.refusal);
    EXPECT_FALSE(attempt.report);
    EXPECT_EQ(busy.load(), c.busy);
    EXPECT_EQ(frontEnd.asked, c.asked);
    EXPECT_EQ(frontEnd.confirmations, c.confirmations);
    EXPECT_EQ(settings.linkUser.load(), c.monitorHoldsLink ? LinkUser::Monitor : LinkUser::None);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Refusals,
    ::testing::Values(
        RefusalCase{"ProgramBusy", Job::Program, true, true, false, JobRefusal::Busy, 0, 0},
        RefusalCase{"ProgramNotConnected", Job::Program, false, false, false,
                    JobRefusal::NotConnected, 0, 0},
        RefusalCase{"ProgramNoFileGiven", Job::Program, true, false, false, JobRefusal::NoFile, 1,
                    0},
        RefusalCase{"EraseBusy", Job::Erase, true, true, false, JobRefusal::Busy, 0, 0},
        RefusalCase{"EraseNotConnected", Job::Erase, false, false, false, JobRefusal::NotConnected,
                    0, 0},
        RefusalCase{"EraseWhileTheMonitorHasTheLink", Job::EraseAll, true, false, true,
                    JobRefusal::LinkInUse, 0, 0},
        RefusalCase{"EraseAllDeclined", Job::EraseAll, true, false, false,
                    JobRefusal::EraseAllDeclined, 0, 1}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

// No file chosen: the one the front end gives is programmed.
TEST(StationController, ProgramsTheFileTheFrontEndGives) {
    SimRig rig;
    farsend::testing::TempDirectory directory;
    const std::vector<sim::ImageRun> runs = {farsend::testing::PatternRun(0x4000, 700)};
    const std::string path = (directory.path() / "Farsend_15_bt.hex").string();
    farsend::testing::WriteImageOfSize(path, runs, sim::FormatImage(runs).size());
    app::ToolSettings settings;
    ASSERT_EQ(protocol::ConnectTarget(rig.exchanges), protocol::ExchangeResult::Ok);
    settings.connectionState = ConnectionState::Connected;
    FrontEnd frontEnd;
    frontEnd.file = path;

    const JobAttempt attempt = ProgramStation({settings, rig.exchanges}, settings, frontEnd);

    EXPECT_EQ(attempt.refusal, JobRefusal::None);
    ASSERT_TRUE(attempt.report);
    EXPECT_TRUE(attempt.report->Succeeded());
    EXPECT_EQ(attempt.report->kind, JobKind::ProgramApplication);
    EXPECT_EQ(rig.simulation->Target().Flash(), farsend::testing::ContentsOf(runs));
    EXPECT_FALSE(settings.programmingBusy);
}

// Erasing all of the flash once the front end said yes: the link is the
// operator's during the job and free again after it.
TEST(StationController, ErasesAllOnceTheFrontEndSaysYes) {
    SimRig rig;
    app::ToolSettings settings;
    settings.flashMode = FlashMode::BootloaderAndApplication;
    ASSERT_EQ(protocol::ConnectTarget(rig.exchanges), protocol::ExchangeResult::Ok);
    settings.connectionState = ConnectionState::Connected;
    FrontEnd frontEnd;
    frontEnd.yes = true;
    struct LinkDuringJob final : StationObserver {
        explicit LinkDuringJob(const StationState& station) : station(station) {}
        void OnStationEvent(const StationEvent& event) override {
            if (std::holds_alternative<events::JobStarted>(event)) user = station.linkUser.load();
        }
        const StationState& station;
        LinkUser user = LinkUser::None;
    } observer(settings);

    const JobAttempt attempt =
        EraseStation({settings, rig.exchanges, &observer}, settings, frontEnd);

    ASSERT_TRUE(attempt.report);
    EXPECT_EQ(attempt.report->kind, JobKind::EraseAll);
    EXPECT_TRUE(attempt.report->Succeeded());
    EXPECT_TRUE(rig.TargetReceived(packets::kEraseAll));
    EXPECT_EQ(observer.user, LinkUser::Operator);
    EXPECT_EQ(settings.linkUser.load(), LinkUser::None);
    EXPECT_FALSE(settings.erasingBusy);
}

}  // namespace
}  // namespace farsend::jobs

// A pool ends where the database can keep its next number, or where the
// serial's format can hold no more: the unit past the end is refused with
// status 10 before anything is sent, and no number ever wraps.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "cli/child_outputs.h"
#include "cli/process_runner.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"
#include "units/unit_database.h"

namespace farsend::units {
namespace {

using farsend::testing::ContentsOf;
using farsend::testing::JsonLines;
using farsend::testing::ProcessResult;
using farsend::testing::RunFarsend;
using ::testing::HasSubstr;

TEST(PoolEndProcess, TheUnitPastAPoolsEndIsRefusedWithStatusTen) {
    farsend::testing::TempDirectory temp;
    auto path = [&](const std::string& name) { return (temp.path() / name).string(); };
    const std::string image = path("Farsend_15_bt.hex");
    sim::ImageRun run;
    run.address = 0x4000;
    run.data.assign(512, 0x5A);
    ASSERT_TRUE(sim::WriteImageFile(image, {run}));
    const std::string last = std::to_string(kLargestPoolNumber);
    struct Case {
        const char* spec;
        std::string first;
        std::vector<std::int64_t> programmed;  // the numbers of the units before the end
    };
    const Case cases[] = {
        // The storage's end, in binary and in 20 digits.
        {"4010:8", last, {kLargestPoolNumber}},
        {"4010:20:dec",
         std::to_string(kLargestPoolNumber - 1),
         {kLargestPoolNumber - 1, kLargestPoolNumber}},
        // The format's end: two digits hold 99 at most.
        {"4010:2:dec", "98", {98, 99}},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec);
        const std::string db = path("pool-" + std::to_string(++index) + ".sqlite");
        const ProcessResult made =
            RunFarsend({"serials", "init", "p", "--first", c.first, "--db", db});
        ASSERT_EQ(made.status, 0) << made.err;
        const std::string flash = path("flash-" + std::to_string(index) + ".hex");
        const ProcessResult watch =
            RunFarsend({"--simulate", "--sim-targets=4", "--sim-flash-out=" + flash, "watch", image,
                        "--quiet", "--json", "--serial", c.spec, "--serial-pool", "p", "--db", db});
        EXPECT_EQ(watch.status, 10) << watch.err;
        std::vector<std::int64_t> numbers;
        for (const auto& result : JsonLines(watch.out)) {
            EXPECT_EQ(result["status"], 0);
            numbers.push_back(result["serial"].get<std::int64_t>());
        }
        EXPECT_EQ(numbers, c.programmed) << watch.err;
        // The target past the end, the run's last, got nothing.
        EXPECT_TRUE(ContentsOf(flash).empty());
        for (const UnitRow& row : UnitDatabase::Open(db)->ListUnits()) {
            ASSERT_TRUE(row.serial && row.finish);
            EXPECT_GE(*row.serial, 0);
        }

        // The next run is refused before any target is touched.
        const ProcessResult again =
            RunFarsend({"--simulate", "program", image, "--quiet", "--serial", c.spec,
                        "--serial-pool", "p", "--db", db});
        EXPECT_EQ(again.status, 10) << again.err;
        const ProcessResult pools = RunFarsend({"serials", "--db", db});
        EXPECT_THAT(pools.out, ::testing::Not(HasSubstr("-9"))) << pools.out;
    }
}

}  // namespace
}  // namespace farsend::units

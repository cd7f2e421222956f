#include "jobs/progress_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace farsend::jobs {
namespace {

struct BarCase {
    std::string name;
    uint64_t fileBytes;
    std::vector<uint64_t> positions;  // before each read
    std::vector<int> steps;           // expected steps per position
};

class ProgramBarArithmetic : public ::testing::TestWithParam<BarCase> {};

TEST_P(ProgramBarArithmetic, StepsFollowWholeKilobytesRead) {
    ProgramBarSteps bar(GetParam().fileBytes);
    std::vector<int> steps;
    for (uint64_t position : GetParam().positions) steps.push_back(bar.StepsAt(position));
    EXPECT_EQ(steps, GetParam().steps);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ProgramBarArithmetic,
    ::testing::Values(
        // 100.0 / 97 * 97 = 99.99999999999999: integer arithmetic would say 100.
        BarCase{"At97Of97KbStandsAt99", 97 * 1024, {0, 97 * 1024}, {0, 99}},
        BarCase{
            "TenKbTenStepsPerKb", 10 * 1024, {0, 1023, 1024, 5000, 10 * 1024}, {0, 0, 10, 30, 60}},
        // No whole kilobyte: no scale, and the bar never moves.
        BarCase{"Under1KbNeverMoves", 1023, {0, 512, 1023}, {0, 0, 0}},
        BarCase{"EmptyFileNeverMoves", 0, {0, 0}, {0, 0}},
        // Three kilobytes: 33.33.., 66.66.., 100.
        BarCase{"ThirdsTruncate", 3 * 1024, {1024, 2048, 3072}, {33, 33, 34}},
        // A position read again adds nothing; a file that grew past its
        // measured size never pushes the bar past 100.
        BarCase{"SamePositionTwice", 2048, {1024, 1024}, {50, 0}},
        BarCase{"GrownFileStopsAt100", 2048, {2048, 4096}, {100, 0}}),
    [](const ::testing::TestParamInfo<BarCase>& info) { return info.param.name; });

TEST(ProgramBarArithmetic, PositionIsTheIntegerPartOfThePercentage) {
    ProgramBarSteps bar(97 * 1024);
    bar.StepsAt(97 * 1024);
    EXPECT_EQ(bar.Position(), 99);
}

TEST(EraseBar, FillUpCompletesTwentySteps) {
    const std::vector<std::pair<uint32_t, int>> cases = {
        {0, 20}, {7, 13}, {19, 1}, {20, 0}, {25, 0}};
    for (const auto& [erased, fill] : cases) {
        EXPECT_EQ(EraseFillUpSteps(erased), fill) << erased << " erased blocks";
    }
}

}  // namespace
}  // namespace farsend::jobs

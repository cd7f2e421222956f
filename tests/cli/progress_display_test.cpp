// The progress display as a terminal, a log and --quiet see it, with a
// virtual clock for the rate and a given terminal width.
#include "cli/progress_display.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/virtual_clock.h"

namespace farsend::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using jobs::JobKind;
namespace events = jobs::events;

constexpr int kProgramBarSteps = 100;

jobs::JobReport Report(JobKind kind, bool success) {
    jobs::JobReport report;
    report.kind = kind;
    report.outcome = success ? jobs::JobOutcome::Success : jobs::JobOutcome::CommunicationError;
    return report;
}

// The events of a job that erases `count` more blocks after `from`.
void Erase(jobs::StationObserver& progress, JobKind kind, int from, int count) {
    for (int i = from + 1; i <= from + count; ++i) {
        progress.OnStationEvent(events::EraseStep{kind, static_cast<std::uint32_t>(i)});
    }
}

// A programming run: `erased` BlockErased answers, the end of erasing, then
// `blocks` full blocks, the bar at the share of 1 KB units read, 100 ms a
// block.
void RunProgramming(jobs::StationObserver& progress, farsend::testing::VirtualClock& clock,
                    int erased, int blocks, bool success = true) {
    const JobKind kind = JobKind::ProgramApplication;
    progress.OnStationEvent(events::JobStarted{kind});
    Erase(progress, kind, 0, erased);
    progress.OnStationEvent(events::EraseDone{kind, static_cast<std::uint32_t>(erased)});
    int percent = 0;
    for (int block = 0; block < blocks; ++block) {
        const int due = (block * 256 / 1024) * 100 / (blocks * 256 / 1024);
        if (due > percent) {
            percent = due;
            progress.OnStationEvent(events::ProgramProgress{kind, percent});
        }
        clock.Advance(Millis(100));
        const auto sent = static_cast<std::uint32_t>(block + 1);
        progress.OnStationEvent(events::BlockSent{kind, sent, sent * 256ull, 256});
    }
    if (success && percent < kProgramBarSteps) {
        progress.OnStationEvent(events::ProgramProgress{kind, kProgramBarSteps});
    }
    progress.OnStationEvent(events::Finished{Report(kind, success)});
}

// What a terminal shows: every line as it was last drawn, and the longest
// text ever drawn on a redrawn line (the caption above the bars is written
// once and may wrap).
struct Screen {
    std::vector<std::string> lines;
    size_t widest = 0;
};

Screen Render(const std::string& output) {
    Screen screen;
    std::string line;
    size_t column = 0;
    for (char c : output) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            while (!line.empty() && line.back() == ' ') line.pop_back();
            screen.lines.push_back(line);
            line.clear();
            column = 0;
        } else {
            if (column < line.size()) {
                line[column] = c;
            } else {
                line += c;
            }
            ++column;
            if (!screen.lines.empty()) screen.widest = std::max(screen.widest, column);
        }
    }
    if (!line.empty()) screen.lines.push_back(line);
    return screen;
}

TEST(ProgressDisplay, TerminalDrawsBothBarsInPlaceWithinTheWidth) {
    for (int width : {20, 40, 60, 80, 132, 300}) {
        SCOPED_TRACE("width " + std::to_string(width));
        farsend::testing::VirtualClock clock;
        std::ostringstream out;
        ProgressDisplay display(out, ProgressMode::Terminal, width, clock);
        RunProgramming(display, clock, 16, 40);

        const Screen screen = Render(out.str());
        EXPECT_LT(screen.widest, static_cast<size_t>(width));
        ASSERT_EQ(screen.lines.size(), 3u) << out.str();
        EXPECT_EQ(screen.lines[0], "Programming Application");
        EXPECT_THAT(screen.lines[1], ::testing::StartsWith("Erase    ["));
        EXPECT_THAT(screen.lines[1], HasSubstr("20/20"));
        EXPECT_THAT(screen.lines[1], Not(HasSubstr(".")));  // a full bar
        EXPECT_THAT(screen.lines[2], ::testing::StartsWith("Program  ["));
        EXPECT_THAT(screen.lines[2], HasSubstr("100%"));
        if (width >= 80) {
            // 40 blocks of 256 bytes in 4 s of virtual time: 2.5 KB/s.
            EXPECT_THAT(screen.lines[2], HasSubstr("10240 bytes  2.5 KB/s"));
        }
        // Redrawn in place: many carriage returns, no line per step.
        const std::string text = out.str();
        EXPECT_GT(std::count(text.begin(), text.end(), '\r'), 40);
        EXPECT_EQ(display.BlocksSent(), 40u);
        EXPECT_EQ(display.BytesSent(), 10240u);
    }
}

TEST(ProgressDisplay, TerminalBarsShowTheStepsTheDialogsShow) {
    farsend::testing::VirtualClock clock;
    std::ostringstream out;
    ProgressDisplay display(out, ProgressMode::Terminal, 80, clock);
    const JobKind kind = JobKind::ProgramBootloaderAndApplication;
    display.OnStationEvent(events::JobStarted{kind});
    Erase(display, kind, 0, 5);
    Screen screen = Render(out.str());
    EXPECT_EQ(screen.lines[0], "Programming Bootloader and Application");
    // 5 of 20 steps: a quarter of the bar.
    const std::string erase = screen.lines[1];
    const size_t open = erase.find('['), close = erase.find(']');
    const std::string bar = erase.substr(open + 1, close - open - 1);
    EXPECT_EQ(std::count(bar.begin(), bar.end(), '#'), static_cast<long>(bar.size() / 4));
    EXPECT_THAT(erase, HasSubstr(" 5/20"));

    // More erased blocks than steps: the bar stays full at 20/20.
    Erase(display, kind, 5, 30);
    screen = Render(out.str());
    EXPECT_THAT(screen.lines[1], HasSubstr("20/20"));

    display.OnStationEvent(events::EraseDone{kind, 35});
    display.OnStationEvent(events::ProgramProgress{kind, 37});
    screen = Render(out.str());
    EXPECT_THAT(screen.lines[2], HasSubstr(" 37%"));
}

TEST(ProgressDisplay, AMessageEndsTheBarLineAndIsShownInEveryMode) {
    for (ProgressMode mode : {ProgressMode::Terminal, ProgressMode::Plain, ProgressMode::Quiet}) {
        farsend::testing::VirtualClock clock;
        std::ostringstream out;
        ProgressDisplay display(out, mode, 80, clock);
        display.OnStationEvent(events::JobStarted{JobKind::EraseDefault});
        Erase(display, JobKind::EraseDefault, 0, 2);
        events::JobProblem problem;
        problem.job = JobKind::EraseDefault;
        problem.problem = events::JobProblemKind::EraseError;
        problem.block = 3;
        display.OnStationEvent(problem);
        display.OnStationEvent(events::Finished{Report(JobKind::EraseDefault, false)});
        const Screen screen = Render(out.str());
        ASSERT_FALSE(screen.lines.empty());
        const std::string expected =
            "farsend: Erase Error: Unexpected Error encountered erasing Block: 3. Terminating "
            "operation.";
        EXPECT_NE(std::find(screen.lines.begin(), screen.lines.end(), expected), screen.lines.end())
            << out.str();
        if (mode == ProgressMode::Terminal) {
            EXPECT_THAT(screen.lines[1], HasSubstr(" 2/20"));
        }
        EXPECT_EQ(display.LastMessage(),
                  "Unexpected Error encountered erasing Block: 3. Terminating operation.");
        if (mode == ProgressMode::Quiet) {
            EXPECT_EQ(screen.lines.size(), 1u);
        }
    }
}

TEST(ProgressDisplay, PlainGivesAFewLinesWithoutCarriageReturns) {
    farsend::testing::VirtualClock clock;
    std::ostringstream out;
    ProgressDisplay display(out, ProgressMode::Plain, 80, clock);
    RunProgramming(display, clock, 16, 400);
    const std::string text = out.str();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text,
              "Programming Application\n"
              "erase: started\n"
              "erase: done\n"
              "program: 25% (25600 bytes, 2.5 KB/s)\n"
              "program: 50% (51200 bytes, 2.5 KB/s)\n"
              "program: 75% (76800 bytes, 2.5 KB/s)\n"
              "program: done, 400 blocks, 102400 bytes, 2.5 KB/s\n");
}

TEST(ProgressDisplay, PlainSaysWhereARunStopped) {
    farsend::testing::VirtualClock clock;
    std::ostringstream out;
    ProgressDisplay display(out, ProgressMode::Plain, 80, clock);
    RunProgramming(display, clock, 3, 10, /*success=*/false);
    EXPECT_THAT(out.str(), HasSubstr("program: stopped after 10 blocks, 2560 bytes"));

    std::ostringstream erase;
    ProgressDisplay eraseDisplay(erase, ProgressMode::Plain, 80, clock);
    eraseDisplay.OnStationEvent(events::JobStarted{JobKind::EraseAll});
    Erase(eraseDisplay, JobKind::EraseAll, 0, 3);
    eraseDisplay.OnStationEvent(events::Finished{Report(JobKind::EraseAll, false)});
    EXPECT_EQ(erase.str(),
              "Erasing ALL of Target Flash\nerase: started\nerase: stopped after 3 of 20 steps\n");
}

TEST(ProgressDisplay, QuietShowsNoProgress) {
    farsend::testing::VirtualClock clock;
    std::ostringstream out;
    ProgressDisplay display(out, ProgressMode::Quiet, 80, clock);
    RunProgramming(display, clock, 16, 40);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(display.BytesSent(), 10240u);
}

}  // namespace
}  // namespace farsend::cli

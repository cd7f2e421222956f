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

constexpr int kEraseBarSteps = 20;
constexpr int kProgramBarSteps = 100;

jobs::JobReport Report(JobKind kind, bool success) {
    jobs::JobReport report;
    report.kind = kind;
    report.outcome = success ? jobs::JobOutcome::Success : jobs::JobOutcome::CommunicationError;
    return report;
}

// A programming run: `erased` BlockErased answers, the fill-up to 20, then
// `blocks` full blocks, one program step per 1 KB of file, 100 ms a block.
void RunProgramming(jobs::JobDialog& progress, farsend::testing::VirtualClock& clock, int erased,
                    int blocks, bool success = true) {
    progress.Begin(JobKind::ProgramApplication);
    for (int i = 0; i < erased; ++i) progress.StepErase();
    for (int i = erased; i < kEraseBarSteps; ++i) progress.StepErase();
    int steps = 0;
    for (int block = 0; block < blocks; ++block) {
        const int due = (block * 256 / 1024) * 100 / (blocks * 256 / 1024);
        while (steps < due) {
            progress.StepProgram();
            ++steps;
        }
        clock.Advance(Millis(100));
        progress.BlockSent(256);
    }
    while (success && steps < kProgramBarSteps) {
        progress.StepProgram();
        ++steps;
    }
    progress.End(Report(JobKind::ProgramApplication, success));
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
    display.Begin(JobKind::ProgramBootloaderAndApplication);
    for (int i = 0; i < 5; ++i) display.StepErase();
    Screen screen = Render(out.str());
    EXPECT_EQ(screen.lines[0], "Programming Bootloader and Application");
    // 5 of 20 steps: a quarter of the bar.
    const std::string erase = screen.lines[1];
    const size_t open = erase.find('['), close = erase.find(']');
    const std::string bar = erase.substr(open + 1, close - open - 1);
    EXPECT_EQ(std::count(bar.begin(), bar.end(), '#'), static_cast<long>(bar.size() / 4));
    EXPECT_THAT(erase, HasSubstr(" 5/20"));

    // More erased blocks than steps: the bar stays full at 20/20.
    for (int i = 0; i < 30; ++i) display.StepErase();
    screen = Render(out.str());
    EXPECT_THAT(screen.lines[1], HasSubstr("20/20"));

    for (int i = 0; i < 37; ++i) display.StepProgram();
    screen = Render(out.str());
    EXPECT_THAT(screen.lines[2], HasSubstr(" 37%"));
}

TEST(ProgressDisplay, AMessageEndsTheBarLineAndIsShownInEveryMode) {
    for (ProgressMode mode : {ProgressMode::Terminal, ProgressMode::Plain, ProgressMode::Quiet}) {
        farsend::testing::VirtualClock clock;
        std::ostringstream out;
        ProgressDisplay display(out, mode, 80, clock);
        display.Begin(JobKind::EraseDefault);
        display.StepErase();
        display.StepErase();
        display.ShowMessage(
            {"Unexpected Error encountered erasing Block: 3.\nTerminating operation.",
             "Erase Error", jobs::MessageStyle::Error});
        display.End(Report(JobKind::EraseDefault, false));
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
    eraseDisplay.Begin(JobKind::EraseAll);
    for (int i = 0; i < 3; ++i) eraseDisplay.StepErase();
    eraseDisplay.End(Report(JobKind::EraseAll, false));
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

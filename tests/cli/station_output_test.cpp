// What several stations write reaches the screen whole: plain lines with the
// station's name in front, or on a terminal a board of one live line per
// station below the messages.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "cli/station_board.h"
#include "cli/station_stream.h"

namespace farsend::cli {
namespace {

// Replays what a terminal would show: carriage return, newline, cursor up,
// clear to the end of the line and of the screen.
std::vector<std::string> Screen(const std::string& output) {
    std::vector<std::string> lines(1);
    size_t row = 0, col = 0;
    for (size_t i = 0; i < output.size(); ++i) {
        if (output.compare(i, 3, "\x1b[A") == 0) {
            row = row > 0 ? row - 1 : 0;
            i += 2;
        } else if (output.compare(i, 3, "\x1b[J") == 0) {
            lines[row].resize(std::min(col, lines[row].size()));
            lines.resize(row + 1);
            i += 2;
        } else if (output.compare(i, 3, "\x1b[K") == 0) {
            lines[row].resize(std::min(col, lines[row].size()));
            i += 2;
        } else if (output[i] == '\r') {
            col = 0;
        } else if (output[i] == '\n') {
            ++row;
            col = 0;
            if (row == lines.size()) lines.emplace_back();
        } else {
            if (lines[row].size() <= col) lines[row].resize(col + 1, ' ');
            lines[row][col++] = output[i];
        }
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

TEST(StationBoard, MessagesScrollAboveOneLivelinePerStation) {
    std::ostringstream terminal, results;
    {
        StationBoard board(terminal, 60, 24, false);
        const int a = board.Add("sim-usb-1.4");
        const int b = board.Add("sim-usb-1.5");
        BoardStream aErr(board, a, terminal, "[sim-usb-1.4] ");
        BoardStream bErr(board, b, terminal, "[sim-usb-1.5] ");
        BoardStream bOut(board, b, results, "[sim-usb-1.5] ");
        aErr << "\rErase    [####....] 10/20" << std::flush;
        bErr << "farsend: the bridge was unplugged\n" << std::flush;
        aErr << "\rProgram  [##......]  25%" << std::flush;
        bOut << "unit 1: communication error\n" << std::flush;
        board.SetResult(b, 0, 1, {false, "bridge unplugged"});
        aErr << "\rProgram  [########] 100%\n" << std::flush;
        board.SetResult(a, 1, 0, {true, "unit 2, 0.5 s"});
        board.SetNote(b, "take the board out");
        // A line too long for the terminal is cut before the last column.
        aErr << "\r" << std::string(100, 'x') << std::flush;
    }
    EXPECT_EQ(Screen(terminal.str()),
              (std::vector<std::string>{
                  "[sim-usb-1.5] farsend: the bridge was unplugged",
                  "1 sim-usb-1.4  1 done, 0 failed  " + std::string(59 - 33, 'x'),
                  "2 sim-usb-1.5  0 done, 1 failed  FAIL  bridge unplugged - t",
              }));
    EXPECT_EQ(results.str(), "[sim-usb-1.5] unit 1: communication error\n");
}

// The verdict stays until the next board starts; its word is coloured
// without the colour codes taking columns. A board that outgrows its
// terminal stops redrawing (each redraw would leave a copy in the
// scrollback) and leaves the results as plain lines.
TEST(StationBoard, VerdictsInColourAndAFallBackWhenTheTerminalIsTooShort) {
    std::ostringstream terminal, results;
    {
        StationBoard board(terminal, 40, 3, true);
        const int a = board.Add("one");
        board.SetResult(a, 0, 1, {false, "wrong board: ZigBee 1.5.0"});
        EXPECT_EQ(Screen(terminal.str()).back(),
                  "1 one  0 done, 1 failed  \x1b[1;31mFAIL\x1b[0m  wrong bo");
        board.SetResult(a, 1, 1, {true, "unit 2, 0.5 s"});
        EXPECT_NE(terminal.str().find("\x1b[1;32mPASS\x1b[0m"), std::string::npos);
        EXPECT_TRUE(board.Drawn());

        board.Add("two");
        board.Add("three");  // four lines with the cursor's: more than 3
        EXPECT_FALSE(board.Drawn());
        const size_t before = terminal.str().size();
        BoardStream out(board, 2, results, "[three] ");
        for (int i = 0; i < 50; ++i) board.SetText(1, "Program " + std::to_string(i));
        out << "unit 3: programmed\n" << std::flush;
        EXPECT_EQ(terminal.str().size(), before);  // nothing redrawn
    }
    EXPECT_EQ(results.str(), "[three] unit 3: programmed\n");
    EXPECT_NE(terminal.str().find("3 stations do not fit a terminal of 3 lines"),
              std::string::npos);
    EXPECT_FALSE(ColourWanted("1", "xterm"));
    EXPECT_TRUE(ColourWanted("", "xterm"));
    EXPECT_FALSE(ColourWanted(nullptr, "dumb"));
}

TEST(StationStream, LinesOfStationsArriveWholeAndNamed) {
    std::ostringstream shared;
    std::mutex lock;
    {
        StationStream a(shared, lock, "[a] ");
        StationStream b(shared, lock, "[b] ");
        std::thread other([&] {
            for (int i = 0; i < 200; ++i) b << "line " << i << " of b\n";
        });
        for (int i = 0; i < 200; ++i) a << "line " << i << " of a\n";
        other.join();
        a << "no newline yet";
    }  // a part line is written when its stream goes
    std::istringstream lines(shared.str());
    int ofA = 0, ofB = 0;
    for (std::string line; std::getline(lines, line);) {
        const bool isA = line.rfind("[a] line ", 0) == 0 && line.size() > 5 &&
                         line.compare(line.size() - 5, 5, " of a") == 0;
        const bool isB = line.rfind("[b] line ", 0) == 0 && line.size() > 5 &&
                         line.compare(line.size() - 5, 5, " of b") == 0;
        ofA += isA;
        ofB += isB;
        EXPECT_TRUE(isA || isB || line == "[a] no newline yet") << line;
    }
    EXPECT_EQ(ofA, 200);
    EXPECT_EQ(ofB, 200);

    // A shared stream that fails makes the station's stream fail too, so a
    // lost result is noticed.
    std::ostringstream broken;
    broken.setstate(std::ios::badbit);
    StationStream c(broken, lock, "[c] ");
    c << "result\n" << std::flush;
    EXPECT_FALSE(c);
}

}  // namespace
}  // namespace farsend::cli

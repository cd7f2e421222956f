// Several stations on one terminal: one line per station (its number and
// name, its units done and failed, and what its job shows now or, until the
// next board starts, PASS or FAIL for its last unit), redrawn in place below
// the messages, which scroll up above it. A board taller than the terminal
// cannot be redrawn in place (every redraw would leave a copy in the
// scrollback): then only the messages and results are printed, as plain
// lines. Every station writes through a stream
// of its own (BoardStream): a line it redraws with a carriage return
// becomes its line on the board; a line it ends without one (a message, a
// result) is printed above the board, prefixed with its name.
#pragma once

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/unit_verdict.h"

namespace farsend::cli {

// Whether a board of `stations` lines can be redrawn on a terminal of
// `height` lines (one stays for the cursor below it).
inline bool BoardFits(size_t stations, int height) {
    return height > 0 && stations + 1 <= static_cast<size_t>(height);
}

class StationBoard {
public:
    // The board is drawn on `terminal`, `width` columns and `height` lines;
    // PASS and FAIL in colour when `colour`.
    StationBoard(std::ostream& terminal, int width, int height, bool colour)
        : terminal_(terminal), width_(width), height_(height), colour_(colour) {}
    // Takes the board off the screen (the messages stay).
    ~StationBoard();

    // A new line for a station; returns its row.
    int Add(const std::string& name);
    // What the station's job shows now.
    void SetText(int row, const std::string& text);
    // The station's counts and its last unit's verdict, shown until the next
    // SetText.
    void SetResult(int row, int done, int failed, const UnitVerdict& verdict);
    // Words after the verdict: what the operator is to do about the socket.
    void SetNote(int row, const std::string& note);
    // The operator typed a line on the terminal, below the board.
    void LineTyped();
    // Prints `line` on `stream` above the board. False when `stream` failed.
    bool Print(std::ostream& stream, const std::string& line);
    // False once the stations outgrew the terminal: plain lines only.
    bool Drawn() const;

private:
    void EraseLocked();
    void DrawLocked();
    std::string RowText(size_t row) const;

    struct Row {
        std::string name;
        std::string text = "waiting";
        int done = 0;
        int failed = 0;
        bool hasVerdict = false;
        UnitVerdict verdict;
        std::string note;
    };
    mutable std::mutex mutex_;
    std::ostream& terminal_;
    const int width_;
    const int height_;
    const bool colour_;
    std::vector<Row> rows_;
    size_t drawn_ = 0;  // board lines on the screen now
    bool plain_ = false;
};

class BoardStreamBuf final : public std::streambuf {
public:
    BoardStreamBuf(StationBoard& board, int row, std::ostream& target, std::string prefix)
        : board_(board), row_(row), target_(target), prefix_(std::move(prefix)) {}

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    void Put(char c);
    void EndLine();

    StationBoard& board_;
    const int row_;
    std::ostream& target_;
    const std::string prefix_;
    std::string line_;
    bool redrawn_ = false;  // the line began with a carriage return
    bool failed_ = false;
};

class BoardStream final : public std::ostream {
public:
    BoardStream(StationBoard& board, int row, std::ostream& target, std::string prefix)
        : std::ostream(nullptr), buffer_(board, row, target, std::move(prefix)) {
        rdbuf(&buffer_);
    }

private:
    BoardStreamBuf buffer_;
};

}  // namespace farsend::cli

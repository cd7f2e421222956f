// Several stations on one terminal: one line per station (its name, what its
// job shows now, its units done and failed), redrawn in place below the
// messages, which scroll up above it. Every station writes through a stream
// of its own (BoardStream): a line it redraws with a carriage return
// becomes its line on the board; a line it ends without one (a message, a
// result) is printed above the board, prefixed with its name.
#pragma once

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace farsend::cli {

class StationBoard {
public:
    // The board is drawn on `terminal`, `width` columns wide.
    StationBoard(std::ostream& terminal, int width) : terminal_(terminal), width_(width) {}
    // Takes the board off the screen (the messages stay).
    ~StationBoard();

    // A new line for a station; returns its row.
    int Add(const std::string& name);
    void SetText(int row, const std::string& text);
    void SetCounts(int row, int done, int failed);
    // Prints `line` on `stream` above the board. False when `stream` failed.
    bool Print(std::ostream& stream, const std::string& line);

private:
    void EraseLocked();
    void DrawLocked();
    std::string RowText(size_t row) const;

    struct Row {
        std::string name;
        std::string text;
        int done = 0;
        int failed = 0;
    };
    std::mutex mutex_;
    std::ostream& terminal_;
    const int width_;
    std::vector<Row> rows_;
    size_t drawn_ = 0;  // board lines on the screen now
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

#include "cli/station_board.h"

#include <algorithm>

namespace farsend::cli {

// ANSI sequences, which every terminal farsend runs on understands (the
// Windows console too, once virtual-terminal output is on).
constexpr const char* kLineUp = "\x1b[A";
constexpr const char* kClearToEnd = "\x1b[J";
constexpr const char* kClearLine = "\x1b[K";

StationBoard::~StationBoard() {
    std::lock_guard<std::mutex> lock(mutex_);
    // The last state of every station stays on the screen as plain lines.
    drawn_ = 0;
    terminal_.flush();
}

int StationBoard::Add(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    Row row;
    row.name = name;
    rows_.push_back(row);
    EraseLocked();
    if (!plain_ && !BoardFits(rows_.size(), height_)) {
        plain_ = true;
        terminal_ << "farsend: " << rows_.size() << " stations do not fit a terminal of " << height_
                  << " lines: results as plain lines from here on.\n";
    }
    DrawLocked();
    return static_cast<int>(rows_.size() - 1);
}

void StationBoard::SetText(int row, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.at(static_cast<size_t>(row)).text = text;
    if (plain_) return;
    EraseLocked();
    DrawLocked();
}

void StationBoard::SetResult(int row, int done, int failed, const UnitVerdict& verdict) {
    std::lock_guard<std::mutex> lock(mutex_);
    Row& entry = rows_.at(static_cast<size_t>(row));
    entry.done = done;
    entry.failed = failed;
    entry.text.clear();
    entry.hasVerdict = true;
    entry.verdict = verdict;
    entry.note.clear();
    if (plain_) return;
    EraseLocked();
    DrawLocked();
}

void StationBoard::SetNote(int row, const std::string& note) {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.at(static_cast<size_t>(row)).note = note;
    if (plain_) return;
    EraseLocked();
    DrawLocked();
}

void StationBoard::LineTyped() {
    std::lock_guard<std::mutex> lock(mutex_);
    // The echo moved the cursor a line down: that line goes with the board.
    if (drawn_ > 0) ++drawn_;
}

bool StationBoard::Drawn() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !plain_;
}

bool StationBoard::Print(std::ostream& stream, const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    EraseLocked();
    terminal_.flush();
    stream << line << '\n';
    stream.flush();
    const bool ok = static_cast<bool>(stream);
    DrawLocked();
    return ok;
}

void StationBoard::EraseLocked() {
    for (size_t i = 0; i < drawn_; ++i) terminal_ << kLineUp;
    if (drawn_ > 0) terminal_ << '\r' << kClearToEnd;
    drawn_ = 0;
}

void StationBoard::DrawLocked() {
    if (plain_) {
        terminal_.flush();
        return;
    }
    for (size_t row = 0; row < rows_.size(); ++row) {
        terminal_ << RowText(row) << kClearLine << '\n';
    }
    drawn_ = rows_.size();
    terminal_.flush();
}

std::string StationBoard::RowText(size_t row) const {
    const Row& entry = rows_[row];
    const std::string head = std::to_string(row + 1) + " " + entry.name + "  " +
                             std::to_string(entry.done) + " done, " + std::to_string(entry.failed) +
                             " failed  ";
    const bool verdictShown = entry.text.empty() && entry.hasVerdict;
    std::string text = head;
    if (!verdictShown) {
        text += entry.text.empty() ? std::string("waiting") : entry.text;
    } else {
        text += VerdictText(entry.verdict, false);
        if (!entry.note.empty()) text += " - " + entry.note;
    }
    // A line that reached the last column would wrap, and the lines counted
    // for the next redraw would be wrong; the colour codes take no column.
    const size_t room = static_cast<size_t>(std::max(width_ - 1, 10));
    if (text.size() > room) text.resize(room);
    if (verdictShown && colour_ && text.size() >= head.size() + 4) {
        const std::string word = text.substr(head.size(), 4);
        const char* colour = entry.verdict.passed ? "\x1b[1;32m" : "\x1b[1;31m";
        text = head + colour + word + "\x1b[0m" + text.substr(head.size() + 4);
    }
    return text;
}

BoardStreamBuf::int_type BoardStreamBuf::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    Put(traits_type::to_char_type(ch));
    return failed_ ? traits_type::eof() : ch;
}

std::streamsize BoardStreamBuf::xsputn(const char* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i) Put(text[i]);
    return failed_ ? 0 : count;
}

int BoardStreamBuf::sync() {
    if (redrawn_) board_.SetText(row_, line_);
    return failed_ ? -1 : 0;
}

void BoardStreamBuf::Put(char c) {
    if (c == '\r') {
        line_.clear();
        redrawn_ = true;
    } else if (c == '\n') {
        EndLine();
    } else {
        line_ += c;
    }
}

void BoardStreamBuf::EndLine() {
    if (redrawn_) {
        // A bar that is finished stays the station's line until the next.
        board_.SetText(row_, line_);
    } else if (!board_.Print(target_, prefix_ + line_)) {
        failed_ = true;
    }
    line_.clear();
    redrawn_ = false;
}

}  // namespace farsend::cli

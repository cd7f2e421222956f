// Job progress on standard error.
//
// On a terminal: an erase bar, then a programming bar with the bytes sent and
// the rate, each redrawn in place on its own line with a carriage return (no
// cursor control, so every console shows it alike) and fitted to the
// terminal's width. Without a terminal: a few plain lines, for logs. Quiet:
// no progress at all. Messages are shown in every mode.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "common/clock.h"
#include "jobs/job_report.h"
#include "jobs/message.h"
#include "jobs/station_events.h"

namespace farsend::cli {

enum class ProgressMode { Terminal, Plain, Quiet };

// A job's events as text: an observer of the job's part of a station's
// events (the others it ignores).
class ProgressDisplay final : public jobs::StationObserver {
public:
    // `width`: the terminal's columns (Terminal mode only).
    ProgressDisplay(std::ostream& out, ProgressMode mode, int width, Clock& clock);

    void OnStationEvent(const jobs::StationEvent& event) override;

    // Off: a job's message is kept (LastMessage) but not shown, because the
    // unit's result line will say it.
    void ShowMessages(bool shown) { showMessages_ = shown; }

    // As the job's last block told them.
    std::uint64_t BlocksSent() const { return blocks_; }
    std::uint64_t BytesSent() const { return bytes_; }
    // The text of the last message shown, on one line ("" for none).
    const std::string& LastMessage() const { return lastMessage_; }
    // Its caption, without a closing full stop ("" for none).
    const std::string& LastCaption() const { return lastCaption_; }

private:
    enum class Phase { Idle, Erasing, Programming, Done };

    void Begin(jobs::JobKind kind);
    void StepErase();
    void StepProgram();
    void BlockSent(const jobs::events::BlockSent& block);
    // "farsend: <caption>: <text on one line>", in every mode.
    void ShowMessage(const jobs::Message& message);
    void End(const jobs::JobReport& report);

    void EnterProgramming();
    void DrawEraseLine();
    void DrawProgramLine();
    void Redraw(const std::string& line);
    void EndLine();
    std::string RateText() const;
    std::string Bar(int filled, int total, int cells) const;
    int BarCells() const;
    bool Compact() const;

    std::ostream& out_;
    const ProgressMode mode_;
    const int width_;
    Clock& clock_;

    jobs::JobKind kind_ = jobs::JobKind::ProgramApplication;
    Phase phase_ = Phase::Idle;
    int eraseSteps_ = 0;
    int programSteps_ = 0;
    std::uint64_t blocks_ = 0;
    std::uint64_t bytes_ = 0;
    Millis programStart_{0};
    Millis lastErase_{0};
    bool eraseSeen_ = false;  // Plain: "erase: started" written
    // Terminal: length of the line drawn last (0: none open).
    std::size_t openLine_ = 0;
    // Plain: the next quarter of the programming bar to report.
    int nextQuarter_ = 25;
    std::string lastMessage_;
    std::string lastCaption_;
    bool showMessages_ = true;
};

// A message box's text on one line: line breaks become blanks.
std::string OneLine(const std::string& text);

}  // namespace farsend::cli

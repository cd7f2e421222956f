#include "cli/progress_display.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>

#include "app/job_window.h"
#include "jobs/job_workers.h"
#include "jobs/progress_steps.h"

namespace farsend::cli {
namespace {

constexpr int kEraseBarSteps = jobs::kEraseBarSteps;
constexpr int kProgramBarSteps = jobs::kProgramBarSteps;
constexpr int kLabelWidth = 9;    // "Program  "
constexpr int kMinBarCells = 10;  // below this the figures give way
constexpr int kMaxBarCells = 40;

}  // namespace

std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            // "...Block: 3.\nTerminating" and "before \nterminating" alike.
            if (!line.empty() && line.back() != ' ') line += ' ';
            continue;
        }
        line += c;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

ProgressDisplay::ProgressDisplay(std::ostream& out, ProgressMode mode, int width, Clock& clock)
    : out_(out), mode_(mode), width_(width), clock_(clock) {}

void ProgressDisplay::OnStationEvent(const jobs::StationEvent& event) {
    namespace events = jobs::events;
    std::visit(
        [this](const auto& happened) {
            using Event = std::decay_t<decltype(happened)>;
            if constexpr (std::is_same_v<Event, events::JobStarted>) {
                Begin(happened.job);
            } else if constexpr (std::is_same_v<Event, events::EraseStep>) {
                StepErase();
            } else if constexpr (std::is_same_v<Event, events::EraseDone>) {
                // The bar ends full, one step at a time as it always did.
                for (int step = jobs::EraseFillUpSteps(happened.blocksErased); step > 0; --step) {
                    StepErase();
                }
            } else if constexpr (std::is_same_v<Event, events::ProgramProgress>) {
                while (programSteps_ < happened.percent && phase_ != Phase::Done) StepProgram();
            } else if constexpr (std::is_same_v<Event, events::BlockSent>) {
                BlockSent(happened);
            } else if constexpr (std::is_same_v<Event, events::JobProblem>) {
                ShowMessage(jobs::JobProblemMessage(happened));
            } else if constexpr (std::is_same_v<Event, events::Finished>) {
                End(happened.report);
            }
        },
        event);
}

void ProgressDisplay::Begin(jobs::JobKind kind) {
    kind_ = kind;
    phase_ = Phase::Erasing;
    eraseSteps_ = 0;
    programSteps_ = 0;
    blocks_ = 0;
    bytes_ = 0;
    eraseSeen_ = false;
    nextQuarter_ = 25;
    lastMessage_.clear();
    lastCaption_.clear();
    programStart_ = clock_.Now();
    if (mode_ == ProgressMode::Quiet) return;
    EndLine();
    out_ << app::JobDialogCaption(kind) << '\n';
    out_.flush();
}

void ProgressDisplay::StepErase() {
    if (phase_ != Phase::Erasing) return;
    ++eraseSteps_;
    lastErase_ = clock_.Now();
    if (mode_ == ProgressMode::Terminal) {
        DrawEraseLine();
    } else if (mode_ == ProgressMode::Plain && !eraseSeen_) {
        out_ << "erase: started\n";
        out_.flush();
    }
    eraseSeen_ = true;
}

void ProgressDisplay::EnterProgramming() {
    if (phase_ != Phase::Erasing) return;
    if (mode_ == ProgressMode::Terminal) {
        DrawEraseLine();
        EndLine();
    } else if (mode_ == ProgressMode::Plain) {
        out_ << "erase: done\n";
    }
    phase_ = Phase::Programming;
    // Programming starts when erasing ends: the rate counts from there.
    programStart_ = eraseSteps_ > 0 ? lastErase_ : clock_.Now();
}

void ProgressDisplay::StepProgram() {
    EnterProgramming();
    if (phase_ != Phase::Programming) {
        // Nothing more to show; the count still follows the job.
        ++programSteps_;
        return;
    }
    ++programSteps_;
    if (mode_ == ProgressMode::Terminal) {
        DrawProgramLine();
    } else if (mode_ == ProgressMode::Plain && programSteps_ >= nextQuarter_ &&
               nextQuarter_ < kProgramBarSteps) {
        // The bar stands at the share read before the next block, so it can
        // reach 100 while blocks are still to go: the end is told by "done",
        // and the quarters below it by the quarter reached.
        const int quarter = std::min(programSteps_ / 25 * 25, kProgramBarSteps - 25);
        out_ << "program: " << quarter << "% (" << bytes_ << " bytes";
        const std::string rate = RateText();
        if (!rate.empty()) out_ << ", " << rate;
        out_ << ")\n";
        out_.flush();
        while (nextQuarter_ <= programSteps_) nextQuarter_ += 25;
    }
}

void ProgressDisplay::BlockSent(const jobs::events::BlockSent& block) {
    EnterProgramming();
    if (phase_ != Phase::Programming) return;
    blocks_ = block.blocksSent;
    bytes_ = block.bytesSent;
    if (mode_ == ProgressMode::Terminal) DrawProgramLine();
}

void ProgressDisplay::ShowMessage(const jobs::Message& message) {
    lastMessage_ = OneLine(message.text);
    lastCaption_ = OneLine(message.caption);
    if (!lastCaption_.empty() && lastCaption_.back() == '.') lastCaption_.pop_back();
    if (!showMessages_) return;
    EndLine();
    out_ << "farsend: ";
    if (!message.caption.empty()) out_ << OneLine(message.caption) << ": ";
    out_ << lastMessage_ << '\n';
    out_.flush();
}

void ProgressDisplay::End(const jobs::JobReport& report) {
    const bool success = report.Succeeded();
    const Phase phase = phase_;
    phase_ = Phase::Done;
    if (mode_ == ProgressMode::Quiet || phase == Phase::Idle || phase == Phase::Done) return;
    if (mode_ == ProgressMode::Terminal) {
        if (phase == Phase::Erasing && openLine_ == 0 && eraseSteps_ > 0) DrawEraseLine();
        EndLine();
        return;
    }
    if (phase == Phase::Erasing) {
        if (success) {
            out_ << "erase: done\n";
        } else {
            out_ << "erase: stopped after " << eraseSteps_ << " of " << kEraseBarSteps
                 << " steps\n";
        }
    } else {
        out_ << "program: " << (success ? "done, " : "stopped after ") << blocks_ << " blocks, "
             << bytes_ << " bytes";
        const std::string rate = RateText();
        if (!rate.empty()) out_ << ", " << rate;
        out_ << '\n';
    }
    out_.flush();
}

std::string ProgressDisplay::RateText() const {
    const auto elapsed = (clock_.Now() - programStart_).count();
    if (elapsed <= 0 || bytes_ == 0) return {};
    const double kilobytesPerSecond =
        static_cast<double>(bytes_) / 1024.0 / (static_cast<double>(elapsed) / 1000.0);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KB/s", kilobytesPerSecond);
    return text;
}

std::string ProgressDisplay::Bar(int filled, int total, int cells) const {
    const int shown = std::clamp(filled, 0, total);
    const int full = total > 0 ? shown * cells / total : 0;
    return "[" + std::string(static_cast<std::size_t>(full), '#') +
           std::string(static_cast<std::size_t>(cells - full), '.') + "]";
}

// The figures grow as the run goes on; both bars keep one width all the way,
// sized for the widest figures: " 100%  4294967295 bytes  99999.9 KB/s". A
// line must never reach the last column, or the terminal wraps it and the
// carriage return no longer goes back to its start; so on a narrow terminal
// the programming line shows the percentage alone.
constexpr int kWidestSuffix = 37;
constexpr int kCompactSuffix = 6;  // " 100%", or " 20/20"

bool ProgressDisplay::Compact() const {
    return width_ - 1 - kLabelWidth - 2 - kWidestSuffix < kMinBarCells;
}

int ProgressDisplay::BarCells() const {
    const int suffix = Compact() ? kCompactSuffix : kWidestSuffix;
    return std::clamp(width_ - 1 - kLabelWidth - 2 - suffix, 1, kMaxBarCells);
}

void ProgressDisplay::DrawEraseLine() {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, " %2d/%d", std::min(eraseSteps_, kEraseBarSteps),
                  kEraseBarSteps);
    Redraw("Erase    " + Bar(eraseSteps_, kEraseBarSteps, BarCells()) + suffix);
}

void ProgressDisplay::DrawProgramLine() {
    char percent[16];
    std::snprintf(percent, sizeof percent, " %3d%%", std::min(programSteps_, kProgramBarSteps));
    std::string suffix = percent;
    if (!Compact()) {
        suffix += "  " + std::to_string(bytes_) + " bytes";
        const std::string rate = RateText();
        if (!rate.empty()) suffix += "  " + rate;
    }
    Redraw("Program  " + Bar(programSteps_, kProgramBarSteps, BarCells()) + suffix);
}

void ProgressDisplay::Redraw(const std::string& line) {
    out_ << '\r' << line;
    if (line.size() < openLine_) out_ << std::string(openLine_ - line.size(), ' ');
    openLine_ = std::max(line.size(), openLine_);
    out_.flush();
}

void ProgressDisplay::EndLine() {
    if (openLine_ == 0) return;
    out_ << '\n';
    out_.flush();
    openLine_ = 0;
}

}  // namespace farsend::cli

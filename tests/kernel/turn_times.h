// Turn times as the uhid bridge sees them, for measuring what a host's HID
// stack costs an exchange:
// - the host's turn: from the last input report the bridge sent to the next
//   output report that carries bytes (the reply up through the host's HID
//   stack, the host program noticing it, its next command down again);
// - the bridge's turn: from the last output report carrying bytes to the
//   next input report (the simulated bridge and target answering).
// A reply that must come within eleven 1 ms polls is lost whenever the
// host's stack needs more than that to deliver it, so the share of host
// turns over 11 ms says how often such a wait would fail.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace farsend::kernel {

struct TurnSummary {
    size_t count = 0;
    double median_ms = 0;
    double p90_ms = 0;
    double max_ms = 0;
    size_t over = 0;              // turns longer than the limit
    std::vector<double> longest;  // the five longest, longest first
};

// Percentiles by nearest rank: the value below which at least that share
// of the turns lie, each one a turn that was measured.
inline TurnSummary Summarise(std::vector<double> ms, double limit_ms) {
    TurnSummary summary;
    summary.count = ms.size();
    if (ms.empty()) return summary;
    std::sort(ms.begin(), ms.end());
    const auto rank = [&](size_t percent) {
        const size_t at = (percent * ms.size() + 99) / 100;
        return ms[at == 0 ? 0 : at - 1];
    };
    summary.median_ms = rank(50);
    summary.p90_ms = rank(90);
    summary.max_ms = ms.back();
    summary.over = static_cast<size_t>(ms.end() - std::upper_bound(ms.begin(), ms.end(), limit_ms));
    for (size_t i = 0; i < 5 && i < ms.size(); ++i)
        summary.longest.push_back(ms[ms.size() - 1 - i]);
    return summary;
}

inline std::string FormatSummary(const TurnSummary& s, double limit_ms) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "%zu, median %.1f ms, 90th percentile %.1f ms, max %.1f ms, over %.0f ms: %zu",
                  s.count, s.median_ms, s.p90_ms, s.max_ms, limit_ms, s.over);
    std::string text = line;
    if (!s.longest.empty()) {
        text += " (longest:";
        for (double ms : s.longest) {
            std::snprintf(line, sizeof line, " %.1f", ms);
            text += line;
        }
        text += ")";
    }
    return text;
}

// Fed by the bridge's two threads: the one that sends input reports and the
// one that takes the host's output reports.
class TurnTimes {
public:
    using Clock = std::chrono::steady_clock;

    void InputSent(Clock::time_point at) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lastOutput_) bridge_.push_back(Millis(at - *lastOutput_));
        lastOutput_.reset();
        lastInput_ = at;
    }

    // Only output reports that carry bytes: the empty report of an open and
    // the close report answer nothing.
    void OutputReceived(Clock::time_point at) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lastInput_) host_.push_back(Millis(at - *lastInput_));
        lastInput_.reset();
        lastOutput_ = at;
    }

    std::vector<double> HostTurns() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return host_;
    }
    std::vector<double> BridgeTurns() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bridge_;
    }

private:
    static double Millis(Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    }

    mutable std::mutex mutex_;
    std::optional<Clock::time_point> lastInput_;   // not yet answered by the host
    std::optional<Clock::time_point> lastOutput_;  // not yet answered by the bridge
    std::vector<double> host_;
    std::vector<double> bridge_;
};

}  // namespace farsend::kernel

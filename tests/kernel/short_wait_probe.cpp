// farsend-short-wait-probe: how long a short reply wait lasts on this
// machine when no reply comes: the product's own empty-poll pause, taken
// as many times as a short wait allows, through the product's clock, in 50
// rounds. Under Wine or an emulated guest a 1 ms sleep can last much
// longer, so the wait gives a late reply more time than its poll count
// says. Prints one line and ends with status 0.
#include <chrono>
#include <cstdio>
#include <vector>

#include "common/clock.h"
#include "kernel/turn_times.h"
#include "protocol/exchange_context.h"

int main() {
    using farsend::protocol::kEmptyPollPause;
    using farsend::protocol::kMaxEmptyPolls;
    constexpr int kRounds = 50;
    constexpr double kNominalMs = kMaxEmptyPolls * 1.0;
    farsend::Clock& clock = farsend::RealClock();
    std::vector<double> ms;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int poll = 0; poll < kMaxEmptyPolls; ++poll) clock.SleepFor(kEmptyPollPause);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::printf(
        "farsend-short-wait-probe: %d empty polls' pauses, rounds: %s\n", kMaxEmptyPolls,
        farsend::kernel::FormatSummary(farsend::kernel::Summarise(ms, kNominalMs), kNominalMs)
            .c_str());
    return 0;
}

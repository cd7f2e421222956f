// A clock whose time moves only when somebody sleeps or waits. A simulated
// run uses it so that a 13-second silence of the simulated target costs
// nothing, and tests use it so that deadlines are checked in microseconds.
// A wait that finds its signal already posted returns at once without moving
// time; whoever would post meanwhile runs on the simulation's own clock,
// which delivers before it lets time pass.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/clock.h"

namespace farsend {

class VirtualClock final : public Clock {
public:
    explicit VirtualClock(Millis start = Millis(1000000)) : now_(start.count()) {}

    Millis Now() override { return Millis(now_.load()); }
    void SleepFor(Millis duration) override { Advance(duration); }
    bool WaitFor(WakeSignal& signal, Millis timeout) override {
        if (signal.Consume()) return true;
        Advance(timeout);
        return signal.Consume();
    }

    void Advance(Millis duration) {
        if (duration.count() > 0) {
            now_ += duration.count();
            slept_ += duration.count();
        }
    }
    // Total time spent sleeping or waiting.
    Millis Slept() const { return Millis(slept_.load()); }

private:
    std::atomic<int64_t> now_;
    std::atomic<int64_t> slept_{0};
};

}  // namespace farsend

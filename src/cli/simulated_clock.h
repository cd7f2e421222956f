// Time for a simulation: it moves only when somebody sleeps or waits, so a
// simulated run never waits for real. A 13-second silence of the simulated
// target costs nothing, and the durations and rates a run reports are those
// of the simulated line (--sim-baud) and flash.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/clock.h"

namespace farsend::cli {

class SimulatedClock final : public Clock {
public:
    Millis Now() override { return Millis(now_.load()); }
    void SleepFor(Millis duration) override { Advance(duration); }
    // A signal already posted ends the wait at once; otherwise the whole
    // timeout passes (whoever would post meanwhile runs in the simulation's
    // own clock, which delivers before it lets time pass).
    bool WaitFor(WakeSignal& signal, Millis timeout) override {
        if (signal.Consume()) return true;
        Advance(timeout);
        return signal.Consume();
    }

private:
    void Advance(Millis duration) {
        if (duration.count() > 0) now_ += duration.count();
    }
    std::atomic<int64_t> now_{0};
};

}  // namespace farsend::cli

// Time as a seam: production code asks a Clock for the time and for pauses,
// so that tests can run a 13-second deadline in a few microseconds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace farsend {

using Millis = std::chrono::milliseconds;

// A wake-up that one thread posts and another waits for. Posting is sticky:
// a Notify() that comes before the wait is not lost.
class WakeSignal {
public:
    void Notify();
    // Clears a pending notification; returns whether there was one.
    bool Consume();

private:
    friend class SteadyClock;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool pending_ = false;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time since an arbitrary origin.
    virtual Millis Now() = 0;
    virtual void SleepFor(Millis duration) = 0;
    // Sleeps until `signal` is notified or `timeout` has passed, whichever
    // comes first. Returns true when woken by the signal (and consumes it).
    virtual bool WaitFor(WakeSignal& signal, Millis timeout) = 0;
};

// The wall clock: std::chrono::steady_clock and real sleeps.
class SteadyClock final : public Clock {
public:
    Millis Now() override;
    void SleepFor(Millis duration) override;
    bool WaitFor(WakeSignal& signal, Millis timeout) override;
};

// The process-wide real clock.
Clock& RealClock();

}  // namespace farsend

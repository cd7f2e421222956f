#include "common/clock.h"

#include <thread>

namespace farsend {

void WakeSignal::Notify() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = true;
    }
    cv_.notify_all();
}

bool WakeSignal::Consume() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool was = pending_;
    pending_ = false;
    return was;
}

Millis SteadyClock::Now() {
    return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now().time_since_epoch());
}

void SteadyClock::SleepFor(Millis duration) {
    if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

bool SteadyClock::WaitFor(WakeSignal& signal, Millis timeout) {
    std::unique_lock<std::mutex> lock(signal.mutex_);
    const bool woken = signal.cv_.wait_for(lock, timeout, [&] { return signal.pending_; });
    signal.pending_ = false;
    return woken;
}

Clock& RealClock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace farsend

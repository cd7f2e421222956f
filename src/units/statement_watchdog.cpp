#include "units/statement_watchdog.h"

#include <algorithm>
#include <utility>

namespace farsend::units {

namespace {
// How often `abandon` is asked while a call is watched: a signal is
// honoured within this, and an idle station costs nothing.
constexpr std::chrono::milliseconds kPoll{20};
}  // namespace

StatementWatchdog::StatementWatchdog(std::chrono::milliseconds limit, std::function<bool()> abandon,
                                     std::function<void()> cut)
    : limit_(limit), abandon_(std::move(abandon)), cut_(std::move(cut)) {
    thread_ = std::thread([this] { Run(); });
}

StatementWatchdog::~StatementWatchdog() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void StatementWatchdog::Arm() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        armed_ = true;
        fired_ = Cause::None;
        deadline_ = std::chrono::steady_clock::now() + limit_;
    }
    wake_.notify_all();
}

void StatementWatchdog::Disarm() {
    std::lock_guard<std::mutex> hold(lock_);
    armed_ = false;
}

StatementWatchdog::Cause StatementWatchdog::Fired() const {
    std::lock_guard<std::mutex> hold(lock_);
    return fired_;
}

void StatementWatchdog::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        wake_.wait(hold, [this] { return quit_ || (armed_ && fired_ == Cause::None); });
        if (quit_) return;
        const auto now = std::chrono::steady_clock::now();
        Cause cause = Cause::None;
        if (now >= deadline_) {
            cause = Cause::TimedOut;
        } else if (abandon_ && abandon_()) {
            cause = Cause::Abandoned;
        }
        if (cause == Cause::None) {
            wake_.wait_for(hold,
                           std::min<std::chrono::steady_clock::duration>(kPoll, deadline_ - now));
            continue;
        }
        fired_ = cause;
        // Cut under the lock: a call that ends meanwhile disarms only after
        // this, and finds out from Fired() that its connection is gone.
        cut_();
    }
}

}  // namespace farsend::units

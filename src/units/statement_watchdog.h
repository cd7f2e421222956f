// A time limit on database calls that cannot time out by themselves. A
// PostgreSQL server whose processes are stopped (SIGSTOP, a hung host) keeps
// its sockets open, so the client waits for its answer for ever, and a
// server-side statement time-out cannot fire in a server that does not run.
// While a call is watched, this thread cuts its connection when the limit
// passes or `abandon` says so (a signal asked to stop); the call then fails
// as a lost connection would, and the caller asks Fired() why.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace farsend::units {

class StatementWatchdog {
public:
    enum class Cause { None, TimedOut, Abandoned };

    StatementWatchdog(std::chrono::milliseconds limit, std::function<bool()> abandon,
                      std::function<void()> cut);
    ~StatementWatchdog();
    StatementWatchdog(const StatementWatchdog&) = delete;
    StatementWatchdog& operator=(const StatementWatchdog&) = delete;

    // The calls made while a Watch lives are watched.
    class Watch {
    public:
        explicit Watch(StatementWatchdog* dog) : dog_(dog) {
            if (dog_ != nullptr) dog_->Arm();
        }
        ~Watch() {
            if (dog_ != nullptr) dog_->Disarm();
        }
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

    private:
        StatementWatchdog* dog_;
    };

    // Why the connection was cut, if it was (since the last Arm).
    Cause Fired() const;
    std::chrono::milliseconds limit() const { return limit_; }

private:
    void Arm();
    void Disarm();
    void Run();

    const std::chrono::milliseconds limit_;
    const std::function<bool()> abandon_;
    const std::function<void()> cut_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool armed_ = false;
    bool quit_ = false;
    Cause fired_ = Cause::None;
    std::chrono::steady_clock::time_point deadline_;
    std::thread thread_;
};

}  // namespace farsend::units

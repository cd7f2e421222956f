// A small thread base class: Start, RequestStop, Wait. The body runs
// OnStart, then Run, then OnExit in the new thread; Run is expected to poll
// IsStopRequested() and return when asked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace farsend::link {

class CDThread {
public:
    CDThread() = default;
    // Waits for a running thread without limit (after asking it to stop).
    // A derived class whose Run uses its own members must stop and wait in
    // its own destructor, before those members go.
    virtual ~CDThread();

    CDThread(const CDThread&) = delete;
    CDThread& operator=(const CDThread&) = delete;

    // False when the thread is already started or running, or cannot be
    // created.
    bool Start();
    // Asks the body to end; does not wait. False when there is no thread.
    bool RequestStop();
    // Waits for the thread to end, at most `milliseconds` (-1: no limit).
    // True when it has ended (or there was none); the thread is then joined
    // and a new Start is allowed.
    bool Wait(int32_t milliseconds);
    // Platform priority steps relative to normal (2: highest). False without
    // a thread or when the platform refuses.
    bool SetPriority(int priority);

    bool IsStopRequested();
    bool IsRunning();
    int32_t ExitCode();

protected:
    virtual bool OnStart() { return true; }
    virtual uint32_t Run() { return 0; }
    virtual void OnExit() {}

private:
    static void ThreadEntry(CDThread* self);
    void Body();

    std::thread handle_;  // joinable while we hold a thread
    bool running_ = false;
    bool stopRequested_ = true;
    bool ended_ = false;  // the body has finished; joining will not block
    int32_t exitCode_ = 0;
    std::mutex lock_;
    std::condition_variable endedChanged_;
};

}  // namespace farsend::link

#include "link/cd_thread.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <system_error>

#include "link/scoped_lock.h"

namespace farsend::link {

CDThread::~CDThread() {
    std::thread thread;
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (handle_.joinable()) {
            stopRequested_ = true;
            thread = std::move(handle_);
        }
    }
    if (thread.joinable()) thread.join();
    running_ = false;
    stopRequested_ = true;
    exitCode_ = 0;
}

bool CDThread::Start() {
    // The lock is held across creation, so the new thread's first step (it
    // takes the lock to mark itself running) comes after handle_ is stored.
    ScopedLock guard(&lock_);
    if (running_ || handle_.joinable()) return false;
    stopRequested_ = false;
    ended_ = false;
    try {
        handle_ = std::thread(&CDThread::ThreadEntry, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CDThread::ThreadEntry(CDThread* self) {
    self->Body();
}

void CDThread::Body() {
    {
        ScopedLock guard(&lock_);
        running_ = true;
    }
    int32_t code = -1;
    if (OnStart()) {
        code = static_cast<int32_t>(Run());
        OnExit();
    }
    {
        ScopedLock guard(&lock_);
        exitCode_ = code;
        running_ = false;
        ended_ = true;
    }
    endedChanged_.notify_all();
}

bool CDThread::RequestStop() {
    ScopedLock guard(&lock_);
    if (!handle_.joinable() && !running_) return false;
    stopRequested_ = true;
    return true;
}

bool CDThread::Wait(int32_t milliseconds) {
    std::thread thread;
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (!handle_.joinable() && !running_) return true;
        const auto ended = [this] { return ended_; };
        if (milliseconds < 0) {
            endedChanged_.wait(guard, ended);
        } else if (!endedChanged_.wait_for(guard, std::chrono::milliseconds(milliseconds), ended)) {
            return false;
        }
        thread = std::move(handle_);
    }
    // The body has left every lock; joining only reaps the thread.
    if (thread.joinable()) thread.join();
    return true;
}

bool CDThread::SetPriority(int priority) {
    ScopedLock guard(&lock_);
    if (!handle_.joinable()) return false;
    // With POSIX threads on Windows (winpthreads) the scheduling priority is
    // the Windows thread priority (2 = highest). Linux refuses a priority for
    // normal threads without privileges; the reader then runs at normal
    // priority, which is fine there.
    sched_param param{};
    param.sched_priority = priority;
    return pthread_setschedparam(handle_.native_handle(), SCHED_OTHER, &param) == 0;
}

bool CDThread::IsStopRequested() {
    ScopedLock guard(&lock_);
    return stopRequested_;
}

bool CDThread::IsRunning() {
    ScopedLock guard(&lock_);
    return running_;
}

int32_t CDThread::ExitCode() {
    ScopedLock guard(&lock_);
    return exitCode_;
}

}  // namespace farsend::link

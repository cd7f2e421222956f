// A stand-in for the user-interface thread of the Win32 shell: other threads
// hand it work and wait until it is done (SendMessage), and it carries such
// work out only while it runs a loop (the message loop, or a modal dialog's).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace farsend::testing {

class UiThread {
public:
    // From any other thread: runs `task` on the user-interface thread and
    // returns once it has run.
    void Send(std::function<void()> task) {
        auto item = std::make_shared<Item>();
        item->task = std::move(task);
        std::unique_lock<std::mutex> lock(mutex_);
        queue_.push_back(item);
        changed_.notify_all();
        changed_.wait(lock, [&] { return item->done; });
    }

    // On the user-interface thread: carries out sent work until `done` holds,
    // looking at it after each piece of work and at least every millisecond.
    void RunUntil(const std::function<bool()>& done) {
        while (!done()) {
            if (!RunOne(std::chrono::milliseconds(1))) continue;
        }
    }
    // Carries out what has been sent so far; returns at once.
    void ProcessPending() {
        while (RunOne(std::chrono::milliseconds(0))) {
        }
    }

private:
    struct Item {
        std::function<void()> task;
        bool done = false;
    };

    bool RunOne(std::chrono::milliseconds wait) {
        std::shared_ptr<Item> item;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (queue_.empty()) changed_.wait_for(lock, wait, [&] { return !queue_.empty(); });
            if (queue_.empty()) return false;
            item = queue_.front();
            queue_.pop_front();
        }
        item->task();
        std::lock_guard<std::mutex> lock(mutex_);
        item->done = true;
        changed_.notify_all();
        return true;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Item>> queue_;
};

}  // namespace farsend::testing

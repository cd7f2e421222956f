// A lock guard that can also be released early, and releases on every exit
// path. Releasing twice is harmless: the held flag remembers whether the
// lock is still ours.
#pragma once

#include <mutex>

namespace farsend::link {

class ScopedLock {
public:
    explicit ScopedLock(std::mutex* lock) : lock_(lock) {
        if (lock_ != nullptr) {
            lock_->lock();
            held_ = 1;
        }
    }
    ~ScopedLock() { Release(); }

    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

    void Release() {
        if (held_ == 1) lock_->unlock();
        held_ = 0;
        lock_ = nullptr;
    }

private:
    std::mutex* lock_;
    unsigned char held_ = 0;
};

}  // namespace farsend::link

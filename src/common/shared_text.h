// A text that one thread writes and others read, copied whole under a lock
// so that a reader never sees it half rewritten.
#pragma once

#include <mutex>
#include <string>

namespace farsend {

class SharedText {
public:
    std::string Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    void Set(std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ = std::move(text);
    }
    bool Empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_.empty();
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace farsend

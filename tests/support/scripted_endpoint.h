// Serial endpoints for tests of the simulated bridge and of whatever runs
// over it: a scripted one (an answer per host write, timed output of its own)
// and an echo.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "sim/serial_endpoint.h"

namespace farsend::testing {

class ScriptedEndpoint : public sim::SerialEndpoint {
public:
    // Computes the endpoint's immediate answer to each batch of host bytes.
    using Responder = std::function<std::vector<uint8_t>(const uint8_t* data, size_t length)>;

    void SetResponder(Responder responder) {
        std::lock_guard<std::mutex> lock(mutex_);
        responder_ = std::move(responder);
    }
    // Sends `bytes` of its own accord at `when`.
    void EmitAt(Millis when, std::vector<uint8_t> bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back({when, std::move(bytes)});
        std::stable_sort(pending_.begin(), pending_.end(),
                         [](const Timed& a, const Timed& b) { return a.at < b.at; });
    }

    std::vector<uint8_t> Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    int Opened() {
        std::lock_guard<std::mutex> lock(mutex_);
        return opened_;
    }
    int Closed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return closed_;
    }

    void OnHostBytes(const uint8_t* data, size_t length, Millis now) override {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), data, data + length);
        if (responder_) {
            std::vector<uint8_t> answer = responder_(data, length);
            if (!answer.empty()) {
                // After anything already due, before what comes later.
                const auto at = std::find_if(pending_.begin(), pending_.end(),
                                             [now](const Timed& t) { return t.at > now; });
                pending_.insert(at, Timed{now, std::move(answer)});
            }
        }
    }
    Millis CollectTargetBytes(Millis now, std::vector<uint8_t>& out) override {
        std::lock_guard<std::mutex> lock(mutex_);
        while (!pending_.empty() && pending_.front().at <= now) {
            out.insert(out.end(), pending_.front().bytes.begin(), pending_.front().bytes.end());
            pending_.erase(pending_.begin());
        }
        return pending_.empty() ? Millis::max() : pending_.front().at;
    }
    void OnBridgeOpened(Millis) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++opened_;
    }
    void OnBridgeClosed(Millis) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++closed_;
    }

private:
    struct Timed {
        Millis at;
        std::vector<uint8_t> bytes;
    };
    std::mutex mutex_;
    Responder responder_;
    std::vector<Timed> pending_;  // by time
    std::vector<uint8_t> received_;
    int opened_ = 0;
    int closed_ = 0;
};

// Sends every host byte straight back.
class EchoEndpoint final : public ScriptedEndpoint {
public:
    EchoEndpoint() {
        SetResponder([](const uint8_t* data, size_t length) {
            return std::vector<uint8_t>(data, data + length);
        });
    }
};

}  // namespace farsend::testing

// A scripted HidPlatform for the link's tests: a list of interfaces with
// their attributes and report lengths, switches for every refusal, a log of
// what the link asked of it (interleaved with the pauses, through
// LoggingClock), and scripted input reads for the reader thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "link/hid_platform.h"
#include "support/virtual_clock.h"

namespace farsend::link::testing {

inline std::string Hex(const uint8_t* data, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", data[i]);
        text += byte;
    }
    return text;
}

struct FakeInterface {
    std::string path;
    HidAttributes attributes;
    HidCaps caps{65, 65, 6};
    bool attributesReadable = true;
    bool opensOnce = false;  // a second open of the path fails
    HidIdentity identity;
};

class FakeHidPlatform final : public HidPlatform {
public:
    // --- configuration (set before the link uses the fake) ---
    std::vector<FakeInterface> interfaces;
    bool bindSucceeds = true;
    bool capsSucceed = true;
    uint32_t largestInputBufferCount = 512;  // larger counts are refused
    bool acceptFeatures = true;
    bool acceptConfigFeature = true;
    int failWriteNumber = 0;  // the Nth output report (1-based) fails; 0: none
    bool shortWrites = false;
    int restartResult = 1;
    std::string fileVersion = "10.0.0.0";
    int osClass = 1;

    // An interface that is the bridge, with report lengths of `dataBytes`
    // plus the report ID.
    static FakeInterface Bridge(const std::string& path, uint16_t vendor, uint16_t product,
                                uint16_t inLength = 65, uint16_t outLength = 65) {
        FakeInterface i;
        i.path = path;
        i.attributes = HidAttributes{vendor, product, 0x0100};
        i.caps = HidCaps{inLength, outLength, 6};
        return i;
    }

    // --- what happened ---
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> lock(mutex_);
        return log_;
    }
    void ClearLog() {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.clear();
    }
    void Note(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(line);
    }
    // Output reports written so far (raw).
    std::vector<std::vector<uint8_t>> Writes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return writes_;
    }
    int OpenHandles() {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(open_.size());
    }

    // --- input for the reader thread ---
    // Queues one platform read result (one or more reports, or any bytes).
    void QueueRead(std::vector<uint8_t> bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        reads_.push_back(std::move(bytes));
        ++queuedReads_;
        changed_.notify_all();
    }
    // Waits (real time, bounded) until the reader has taken every queued read
    // and come back for more, so everything it took is in its ring.
    bool WaitUntilReaderIdle(std::chrono::milliseconds cap = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, cap, [this] {
            return reads_.empty() && deliveredReads_ == queuedReads_ && readerInside_;
        });
    }
    int ReadCalls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return readCalls_;
    }

    // --- HidPlatform ---
    bool Bind() override {
        Note("bind");
        return bindSucceeds;
    }
    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<std::string> paths;
        for (const auto& i : interfaces) paths.push_back(i.path);
        return paths;
    }
    HidIdentity Identify(const std::string& path) override {
        for (const auto& i : interfaces) {
            if (i.path == path) return i.identity;
        }
        return {};
    }
    HidHandle Open(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t index = 0; index < interfaces.size(); ++index) {
            if (interfaces[index].path != path) continue;
            if (interfaces[index].opensOnce) {
                for (const auto& entry : open_) {
                    if (entry.second == index) {
                        log_.push_back("open " + path + " refused");
                        return kNoHandle;
                    }
                }
            }
            const HidHandle handle = nextHandle_++;
            open_[handle] = index;
            log_.push_back("open " + path + " -> " + std::to_string(handle));
            return handle;
        }
        return kNoHandle;
    }
    void Close(HidHandle handle) override {
        std::lock_guard<std::mutex> lock(mutex_);
        // Closing a handle that a read still uses is what the real backends
        // must never see (the pending read's buffers go with the handle).
        log_.push_back("close " + std::to_string(handle) +
                       (readerInside_ && readingHandle_ == handle ? " during a read" : ""));
        open_.erase(handle);
        changed_.notify_all();
    }
    bool GetAttributes(HidHandle handle, HidAttributes* attributes) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const FakeInterface* i = Find(handle);
        if (i == nullptr || !i->attributesReadable) return false;
        *attributes = i->attributes;
        return true;
    }
    bool GetCaps(HidHandle handle, HidCaps* caps) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const FakeInterface* i = Find(handle);
        log_.push_back("caps " + std::to_string(handle));
        if (i == nullptr || !capsSucceed) return false;
        *caps = i->caps;
        return true;
    }
    bool SetNumInputBuffers(HidHandle handle, uint32_t count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool accepted = count <= largestInputBufferCount;
        log_.push_back("buffers " + std::to_string(handle) + " " + std::to_string(count) +
                       (accepted ? " ok" : " refused"));
        return accepted;
    }
    bool SetFeature(HidHandle handle, const uint8_t* report, size_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back("feature " + std::to_string(handle) + " " + Hex(report, length));
        if (length >= 2 && report[1] == 0x09 && !acceptConfigFeature) return false;
        return Find(handle) != nullptr && acceptFeatures;
    }
    long WriteReport(HidHandle handle, const uint8_t* report, size_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++writeCount_;
        log_.push_back("write " + std::to_string(handle) + " " + Hex(report, length));
        writes_.emplace_back(report, report + length);
        if (Find(handle) == nullptr || writeCount_ == failWriteNumber) return -1;
        return shortWrites ? static_cast<long>(length) - 1 : static_cast<long>(length);
    }
    ReadStatus ReadReport(HidHandle handle, uint8_t* buffer, size_t capacity, size_t* length,
                          uint32_t timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++readCalls_;
        readerInside_ = true;
        readingHandle_ = handle;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this, handle] { return !reads_.empty() || Find(handle) == nullptr; });
        readerInside_ = false;
        if (Find(handle) == nullptr) return ReadStatus::kFailed;
        if (reads_.empty()) return ReadStatus::kTimedOut;
        std::vector<uint8_t> bytes = std::move(reads_.front());
        reads_.pop_front();
        ++deliveredReads_;
        if (bytes.size() > capacity) return ReadStatus::kFailed;
        std::copy(bytes.begin(), bytes.end(), buffer);
        *length = bytes.size();
        return ReadStatus::kReport;
    }
    int RestartBridge(uint16_t vendorId, uint16_t productId, const std::string& path) override {
        char line[48];
        std::snprintf(line, sizeof line, "restart %04x %04x", vendorId, productId);
        Note(path.empty() ? std::string(line) : line + std::string(" ") + path);
        return restartResult;
    }
    std::string HidLibraryFileVersion() override { return fileVersion; }
    int OsClass() override { return osClass; }

private:
    const FakeInterface* Find(HidHandle handle) const {
        auto it = open_.find(handle);
        return it == open_.end() ? nullptr : &interfaces[it->second];
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> log_;
    std::vector<std::vector<uint8_t>> writes_;
    std::map<HidHandle, size_t> open_;
    HidHandle nextHandle_ = 1;
    int writeCount_ = 0;
    std::deque<std::vector<uint8_t>> reads_;
    int queuedReads_ = 0;
    int deliveredReads_ = 0;
    int readCalls_ = 0;
    bool readerInside_ = false;
    HidHandle readingHandle_ = kNoHandle;
};

// A virtual clock that writes every pause into the fake's log, so a test sees
// pauses in order with the reports around them.
class LoggingClock final : public Clock {
public:
    explicit LoggingClock(FakeHidPlatform& platform) : platform_(platform) {}
    Millis Now() override { return inner_.Now(); }
    void SleepFor(Millis duration) override {
        platform_.Note("sleep " + std::to_string(duration.count()));
        inner_.SleepFor(duration);
    }
    bool WaitFor(WakeSignal& signal, Millis timeout) override {
        return inner_.WaitFor(signal, timeout);
    }
    Millis Slept() const { return inner_.Slept(); }

private:
    FakeHidPlatform& platform_;
    farsend::testing::VirtualClock inner_;
};

}  // namespace farsend::link::testing

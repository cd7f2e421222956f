// The simulated bridge's framer: serial bytes into input reports, output
// and feature reports into serial bytes and settings.
#include <algorithm>
#include <cstring>

#include "sim/sim_bridge.h"
#include "sim/sim_bridge_wire.h"

namespace farsend::sim {

namespace {

using link::HidHandle;
using link::kNoHandle;
using link::ReadStatus;
using namespace bridge_wire;

bool Equal(const uint8_t* a, const uint8_t* b, size_t length) {
    return std::memcmp(a, b, length) == 0;
}

}  // namespace

void SimBridge::QueueTargetBytesLocked(const std::vector<uint8_t>& bytes, Millis now) {
    if (!plug_.Plugged()) return;
    stats_.bytesToHost += bytes.size();
    if (observer_) observer_(SerialDirection::kToHost, bytes.data(), bytes.size(), now);
    const size_t length = options_.inputReportLength;
    const size_t perReport = length > 3 ? length - 3 : 0;
    if (perReport == 0) return;
    for (size_t at = 0; at < bytes.size(); at += perReport) {
        const size_t n = std::min(perReport, bytes.size() - at);
        std::vector<uint8_t> report(length, 0);
        report[0] = kReportId;
        report[1] = kControlData;
        report[2] = static_cast<uint8_t>(n);
        std::copy(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n),
                  report.begin() + 3);
        inbound_.push_back(std::move(report));
        ++enqueued_;
    }
    changed_.notify_all();
}

// --- reports ------------------------------------------------------------------

bool SimBridge::SetFeature(HidHandle handle, const uint8_t* report, size_t length) {
    Lock lock(mutex_);
    if (!IsBridgeHandleLocked(handle) || report == nullptr || length != kFeatureLength ||
        refuseFeatures_) {
        ++stats_.refusedFeatures;
        return false;
    }
    const Millis now = clock_.Now();
    if (Equal(report, kConfigFeature, kFeatureLength)) {
        ++stats_.configFeatures;
        const uint64_t before = enqueued_;
        OpenUartLocked(now);
        if (enqueued_ != before) WaitUntilStoredLocked(lock);
        return true;
    }
    if (Equal(report, kCloseFeature, kFeatureLength)) {
        ++stats_.closeFeatures;
        CloseUartLocked(now);
        return true;
    }
    ++stats_.refusedFeatures;
    return false;
}

long SimBridge::WriteReport(HidHandle handle, const uint8_t* report, size_t length) {
    Lock lock(mutex_);
    if (!IsBridgeHandleLocked(handle) || report == nullptr || failWrites_) return -1;
    // Windows refuses a write whose length is not the output report length.
    if (length != options_.outputReportLength) return -1;
    if (options_.keepOutputLog) outputLog_.emplace_back(report, report + length);

    const bool legacy = options_.legacyHid;
    const size_t header = legacy ? 4 : 3;
    if (length < header || report[0] != kReportId || (legacy && report[1] != kLegacyMarker)) {
        ++stats_.malformedReports;
        return static_cast<long>(length);
    }
    const size_t maxPayload =
        legacy ? std::min(kLegacyMaxPayload, length - header) : length - header;
    const uint8_t control = report[header - 2];
    const size_t count = report[header - 1];
    const Millis now = clock_.Now();

    if (control == kControlClose && count == 0) {
        ++stats_.closeReports;
        CloseUartLocked(now);
        return static_cast<long>(length);
    }
    if (control != kControlData || count > maxPayload) {
        ++stats_.malformedReports;
        return static_cast<long>(length);
    }
    if (count > 0) {
        ++stats_.dataReports;
        const uint64_t before = enqueued_;
        HostBytesLocked(report + header, count, now);
        if (!plug_.Plugged()) {
            WaitUntilGoneHeardLocked(lock);
        } else if (enqueued_ != before) {
            WaitUntilStoredLocked(lock);
        }
    }
    return static_cast<long>(length);
}

ReadStatus SimBridge::ReadReport(HidHandle handle, uint8_t* buffer, size_t capacity, size_t* length,
                                 uint32_t timeoutMs) {
    Lock lock(mutex_);
    readerInside_ = true;
    changed_.notify_all();
    const auto leave = [this](ReadStatus status) {
        readerInside_ = false;
        changed_.notify_all();
        return status;
    };

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const size_t reportLength = options_.inputReportLength;
    for (;;) {
        if (buffer == nullptr || length == nullptr) return leave(ReadStatus::kFailed);
        const Interface* i = FindLocked(handle);
        if (i != nullptr && i->isBridge && !plug_.Plugged()) {
            ++goneReads_;
            return leave(ReadStatus::kGone);
        }
        if (!IsBridgeHandleLocked(handle)) return leave(ReadStatus::kFailed);
        if (uartOpen_ && clock_.Now() >= lookDue_) {
            const uint64_t before = enqueued_;
            CollectLocked(clock_.Now());
            if (enqueued_ == before) ++stats_.emptyLooks;
        }
        if (!inbound_.empty()) {
            const size_t fit = std::min(inbound_.size(), capacity / reportLength);
            if (fit == 0) return leave(ReadStatus::kFailed);
            for (size_t i = 0; i < fit; ++i) {
                std::memcpy(buffer + i * reportLength, inbound_.front().data(), reportLength);
                inbound_.pop_front();
            }
            delivered_ += fit;
            *length = fit * reportLength;
            return leave(ReadStatus::kReport);
        }

        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return leave(ReadStatus::kTimedOut);
        auto wait = left;
        if (uartOpen_ && lookDue_ != Millis::max()) {
            const Millis untilDue = lookDue_ - clock_.Now();
            wait = std::min(wait, std::max(untilDue, Millis(1)));
        }
        changed_.wait_for(lock, wait);
    }
}

bool SimBridge::InjectInputReports(const std::vector<std::vector<uint8_t>>& reports) {
    Lock lock(mutex_);
    for (const auto& report : reports) {
        if (report.size() != options_.inputReportLength) return false;
    }
    for (const auto& report : reports) {
        inbound_.push_back(report);
        ++enqueued_;
    }
    changed_.notify_all();
    return WaitUntilStoredLocked(lock);
}

}  // namespace farsend::sim

#include "sim/sim_bridge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/bridge_ids.h"

namespace farsend::sim {

namespace {

using link::HidHandle;
using link::kNoHandle;
using link::ReadStatus;

constexpr uint8_t kReportId = 0x00;
constexpr uint8_t kControlData = 0x20;
constexpr uint8_t kControlClose = 0x00;
constexpr uint8_t kLegacyMarker = 0xF6;
constexpr size_t kLegacyMaxPayload = 5;
constexpr size_t kFeatureLength = 6;
constexpr uint8_t kConfigFeature[kFeatureLength] = {0x00, 0x09, 0x08, 0x07, 0x06, 0x05};
constexpr uint8_t kCloseFeature[kFeatureLength] = {0x00, 0xF4, 0x00, 0x00, 0x00, 0x00};

bool Equal(const uint8_t* a, const uint8_t* b, size_t length) {
    return std::memcmp(a, b, length) == 0;
}

}  // namespace

SimBridge::SimBridge(SimBridgeOptions options)
    : options_(options),
      clock_(options.clock != nullptr ? *options.clock : RealClock()),
      realTime_(dynamic_cast<SteadyClock*>(&clock_) != nullptr),
      plug_(options.plug != nullptr ? *options.plug : ownPlug_) {
    const uint16_t otherProduct = static_cast<uint16_t>(link::kBridgeProductId + 1);
    if (options.number > 1) {
        interfaces_ = {{PathOf(options.number),
                        {link::kBridgeVendorId, link::kBridgeProductId, 0x0100},
                        {options.inputReportLength, options.outputReportLength, kFeatureLength},
                        true,
                        {LocationOf(options.number),
                         options.serial.empty() ? SerialOf(options.number) : options.serial}}};
        return;
    }
    interfaces_ = {
        {"sim-hid:keyboard", {0x046D, 0xC31C, 0x6400}, {9, 2, 0}, false, {"sim-usb-1.1", ""}},
        {"sim-hid:mouse", {0x046D, 0xC077, 0x7200}, {5, 0, 0}, false, {"sim-usb-1.2", ""}},
        {"sim-hid:same-vendor",
         {link::kBridgeVendorId, otherProduct, 0x0100},
         {65, 65, 6},
         false,
         {"sim-usb-1.3", "SIM00099"}},
        {kBridgePath,
         {link::kBridgeVendorId, link::kBridgeProductId, 0x0100},
         {options.inputReportLength, options.outputReportLength, kFeatureLength},
         true,
         {kBridgeLocation, options.serial.empty() ? kBridgeSerial : options.serial}},
    };
}

SimBridge::~SimBridge() = default;

std::string SimBridge::PathOf(uint32_t number) {
    return number <= 1 ? kBridgePath : std::string(kBridgePath) + "-" + std::to_string(number);
}

std::string SimBridge::LocationOf(uint32_t number) {
    // Sockets of a hub: 1.4 is the first bridge's, the others follow it.
    return number <= 1 ? kBridgeLocation : "sim-usb-1." + std::to_string(3 + number);
}

std::string SimBridge::SerialOf(uint32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "SIM%05u", static_cast<unsigned>(number));
    return text;
}

void SimBridge::AttachEndpoint(SerialEndpoint* endpoint) {
    Lock lock(mutex_);
    endpoint_ = endpoint;
    nextDue_ = lookDue_ = Millis::max();
    if (endpoint_ != nullptr && uartOpen_) CollectLocked(clock_.Now());
}

void SimBridge::SetSerialObserver(SerialObserver observer) {
    Lock lock(mutex_);
    observer_ = std::move(observer);
}

void SimBridge::Unplug() {
    Lock lock(mutex_);
    plug_.Unplug();
    changed_.notify_all();
}

bool SimBridge::Plugged() const {
    return plug_.Plugged();
}

void SimBridge::SetRefuseFeatures(bool refuse) {
    Lock lock(mutex_);
    refuseFeatures_ = refuse;
}

void SimBridge::SetFailWrites(bool fail) {
    Lock lock(mutex_);
    failWrites_ = fail;
}

void SimBridge::SetRestartResult(int result) {
    Lock lock(mutex_);
    restartResult_ = result;
}

SimBridgeStats SimBridge::Stats() {
    Lock lock(mutex_);
    SimBridgeStats stats = stats_;
    stats.uartOpen = uartOpen_;
    stats.openHandles = 0;
    for (const auto& entry : handles_) {
        if (interfaces_[entry.second].isBridge) ++stats.openHandles;
    }
    return stats;
}

std::vector<std::vector<uint8_t>> SimBridge::OutputLog() {
    Lock lock(mutex_);
    return outputLog_;
}

// --- enumeration and handles ----------------------------------------------

std::vector<std::string> SimBridge::EnumerateInterfaces() {
    std::vector<std::string> paths;
    const bool plugged = plug_.Plugged();
    for (const Interface& i : interfaces_) {
        if (i.isBridge && !plugged) continue;
        paths.push_back(i.path);
    }
    return paths;
}

link::HidIdentity SimBridge::Identify(const std::string& path) {
    for (const Interface& i : interfaces_) {
        if (i.path != path) continue;
        if (i.isBridge && !plug_.Plugged()) return {};
        return i.identity;
    }
    return {};
}

HidHandle SimBridge::Open(const std::string& path) {
    Lock lock(mutex_);
    for (size_t index = 0; index < interfaces_.size(); ++index) {
        if (interfaces_[index].path != path) continue;
        if (interfaces_[index].isBridge && !plug_.Plugged()) return kNoHandle;
        const HidHandle handle = nextHandle_++;
        handles_[handle] = index;
        return handle;
    }
    return kNoHandle;
}

void SimBridge::Close(HidHandle handle) {
    Lock lock(mutex_);
    handles_.erase(handle);
    changed_.notify_all();
}

const SimBridge::Interface* SimBridge::FindLocked(HidHandle handle) const {
    const auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : &interfaces_[it->second];
}

bool SimBridge::IsBridgeHandleLocked(HidHandle handle) const {
    const Interface* i = FindLocked(handle);
    return i != nullptr && i->isBridge && plug_.Plugged();
}

int SimBridge::OpenBridgeHandlesLocked() const {
    int open = 0;
    for (const auto& entry : handles_) {
        if (interfaces_[entry.second].isBridge) ++open;
    }
    return open;
}

bool SimBridge::ReaderExpectedLocked() const {
    // The link opens the bridge twice; the second handle is its reader's.
    return plug_.Plugged() && OpenBridgeHandlesLocked() >= 2;
}

void SimBridge::WaitUntilGoneHeardLocked(Lock& lock) {
    // A real system tells the reader of an unplug at once. Here the plug is
    // pulled inside a write, and the writer's next step may be a wait in
    // virtual time that would pass its deadline before the reader looked:
    // so the write returns only once the reader has failed a read as gone
    // and come back for another, by which time it has told the link.
    changed_.notify_all();
    if (OpenBridgeHandlesLocked() < 2) return;
    const bool heard = changed_.wait_for(lock, options_.handoffCap, [&] {
        return goneReads_ >= 2 || OpenBridgeHandlesLocked() < 2;
    });
    if (!heard) ++stats_.handoffTimeouts;
}

bool SimBridge::GetAttributes(HidHandle handle, link::HidAttributes* attributes) {
    Lock lock(mutex_);
    const Interface* i = FindLocked(handle);
    if (i == nullptr || attributes == nullptr || (i->isBridge && !plug_.Plugged())) return false;
    *attributes = i->attributes;
    return true;
}

bool SimBridge::GetCaps(HidHandle handle, link::HidCaps* caps) {
    Lock lock(mutex_);
    const Interface* i = FindLocked(handle);
    if (i == nullptr || caps == nullptr || (i->isBridge && !plug_.Plugged())) return false;
    *caps = i->caps;
    return true;
}

bool SimBridge::SetNumInputBuffers(HidHandle handle, uint32_t count) {
    Lock lock(mutex_);
    if (FindLocked(handle) == nullptr || count < 2 || count > options_.maxInputBuffers)
        return false;
    if (IsBridgeHandleLocked(handle)) stats_.inputBuffers = count;
    return true;
}

// --- the serial side ----------------------------------------------------------

void SimBridge::OpenUartLocked(Millis now) {
    if (uartOpen_) return;
    // Whatever the target sent while nobody listened is lost.
    if (endpoint_ != nullptr) {
        std::vector<uint8_t> stale;
        endpoint_->CollectTargetBytes(now, stale);
        endpoint_->OnBridgeOpened(now);
    }
    uartOpen_ = true;
    nextDue_ = lookDue_ = Millis::max();
    CollectLocked(now);
}

void SimBridge::CloseUartLocked(Millis now) {
    if (!uartOpen_) return;
    uartOpen_ = false;
    if (endpoint_ != nullptr) endpoint_->OnBridgeClosed(now);
    nextDue_ = lookDue_ = Millis::max();
    // Reports not yet taken are gone, as the bridge stops reporting.
    enqueued_ -= inbound_.size();
    inbound_.clear();
    changed_.notify_all();
}

void SimBridge::HostBytesLocked(const uint8_t* data, size_t length, Millis now) {
    if (!uartOpen_) {
        stats_.droppedHostBytes += length;
        return;
    }
    stats_.bytesToTarget += length;
    if (observer_) observer_(SerialDirection::kToTarget, data, length, now);
    if (endpoint_ != nullptr) endpoint_->OnHostBytes(data, length, now);
    // Its answer may be ready at once: collect it now, so it is on its way
    // before the write returns.
    CollectLocked(now);
}

void SimBridge::CollectLocked(Millis now) {
    if (endpoint_ == nullptr) {
        nextDue_ = lookDue_ = Millis::max();
        return;
    }
    std::vector<uint8_t> bytes;
    const Millis before = lookDue_;
    nextDue_ = endpoint_->CollectTargetBytes(now, bytes);
    if (!uartOpen_) {
        nextDue_ = lookDue_ = Millis::max();
        return;
    }
    lookDue_ = nextDue_;
    if (realTime_ && nextDue_ != Millis::max()) {
        const size_t reportBytes =
            options_.inputReportLength > 3 ? options_.inputReportLength - 3u : 0u;
        lookDue_ = std::max(nextDue_, endpoint_->NextHostVisibleTime(reportBytes));
    }
    if (!bytes.empty()) QueueTargetBytesLocked(bytes, now);
    // A reader asleep until the old due time (or its read's time-out) must
    // look again, or output due earlier waits for it in real time.
    if (lookDue_ < before) changed_.notify_all();
}

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

bool SimBridge::WaitUntilStoredLocked(Lock& lock) {
    const auto stored = [this] { return delivered_ >= enqueued_ && readerInside_; };
    if (stored()) return true;
    if (!ReaderExpectedLocked()) return false;
    const bool done = changed_.wait_for(lock, options_.handoffCap,
                                        [&] { return stored() || !ReaderExpectedLocked(); });
    if (!done) ++stats_.handoffTimeouts;
    return stored();
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

bool SimBridge::DeliverDue() {
    Lock lock(mutex_);
    if (uartOpen_ && clock_.Now() >= lookDue_) CollectLocked(clock_.Now());
    return WaitUntilStoredLocked(lock);
}

Millis SimBridge::NextDueTime() {
    Lock lock(mutex_);
    return uartOpen_ && plug_.Plugged() ? lookDue_ : Millis::max();
}

// --- system ---------------------------------------------------------------------

int SimBridge::RestartBridge(uint16_t vendorId, uint16_t productId, const std::string& path) {
    Lock lock(mutex_);
    // A restart meant for another interface leaves this bridge alone.
    const bool ours = path.empty() || path == PathOf(options_.number);
    if (ours && vendorId == link::kBridgeVendorId && productId == link::kBridgeProductId &&
        plug_.Plugged() && restartResult_ == 1) {
        ++stats_.restarts;
    }
    return restartResult_;
}

std::string SimBridge::HidLibraryFileVersion() {
    return options_.legacyHid ? kLegacyLibraryVersion : kLibraryVersion;
}

int SimBridge::OsClass() {
    if (options_.osClass >= 0) return options_.osClass;
    return options_.legacyHid ? 2 : 1;
}

// --- SimBridgeClock ---------------------------------------------------------------

void SimBridgeClock::SleepFor(Millis duration) {
    const Millis end = inner_.Now() + std::max(duration, Millis(0));
    for (;;) {
        const Millis now = inner_.Now();
        const Millis due = bridge_.NextDueTime();
        if (due > end) break;
        if (due > now) inner_.SleepFor(due - now);
        bridge_.DeliverDue();
        // An endpoint that keeps naming a time already past would hold us
        // here for ever; go on with the pause instead.
        if (bridge_.NextDueTime() <= inner_.Now()) break;
    }
    const Millis rest = end - inner_.Now();
    if (rest.count() > 0) inner_.SleepFor(rest);
}

bool SimBridgeClock::WaitFor(WakeSignal& signal, Millis timeout) {
    if (signal.Consume()) return true;
    if (realTime_) return inner_.WaitFor(signal, timeout);
    const Millis end = inner_.Now() + std::max(timeout, Millis(0));
    for (;;) {
        const Millis now = inner_.Now();
        const Millis due = bridge_.NextDueTime();
        if (due > end) break;
        if (due > now && inner_.WaitFor(signal, due - now)) return true;
        bridge_.DeliverDue();
        if (signal.Consume()) return true;
        if (bridge_.NextDueTime() <= inner_.Now()) break;
    }
    const Millis rest = end - inner_.Now();
    return inner_.WaitFor(signal, std::max(rest, Millis(0)));
}

}  // namespace farsend::sim

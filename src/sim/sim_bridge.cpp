#include "sim/sim_bridge.h"

#include <cstdio>

#include "link/bridge_ids.h"
#include "sim/sim_bridge_wire.h"

namespace farsend::sim {

namespace {

using namespace bridge_wire;

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

}  // namespace farsend::sim

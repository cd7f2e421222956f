#include "sim/simulation.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace farsend::sim {

SimBridgeOptions Simulation::BridgeOptionsFor(const SimOptions& options, PlugState& plug,
                                              Clock* clock) {
    // The option parser bounds the length far below this; the clamp only
    // keeps a hand-made SimOptions from wrapping.
    const uint32_t length = std::min<uint32_t>(options.report_length, UINT16_MAX);
    SimBridgeOptions bridge =
        SimBridgeOptions::WithReportLength(static_cast<uint16_t>(length), options.legacy_hid);
    bridge.clock = clock;
    bridge.plug = &plug;
    bridge.number = options.bridge_number;
    if (auto own = options.bridge_serial.find(options.bridge_number);
        own != options.bridge_serial.end()) {
        bridge.serial = own->second;
    }
    return bridge;
}

Simulation::Simulation(const SimOptions& options, Clock* clock)
    : options_(options),
      target_(options_, &plug_),
      bridge_(BridgeOptionsFor(options_, plug_, clock)),
      linkClock_(bridge_) {
    bridge_.AttachEndpoint(&target_);
}

std::unique_ptr<Simulation> Simulation::Create(const SimOptions& options, std::string& error,
                                               Clock* clock) {
    if (!options.flash_dir.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(options.flash_dir, failure);
        if (failure || !std::filesystem::is_directory(options.flash_dir)) {
            error = "--sim-flash-dir: cannot make the folder " + options.flash_dir +
                    (failure ? ": " + failure.message() : std::string(": a file is in the way"));
            return nullptr;
        }
    }
    std::unique_ptr<Simulation> simulation(new Simulation(options, clock));
    if (!options.serial_log.empty() &&
        !simulation->target_.OpenSerialLog(options.serial_log, error)) {
        return nullptr;
    }
    return simulation;
}

Simulation::~Simulation() {
    if (attached_ != nullptr) {
        link::HidLinkClose(*attached_);
        attached_->platform = nullptr;
        attached_->clock = nullptr;
    }
    bridge_.AttachEndpoint(nullptr);
    std::string ignored;
    Finish(ignored);
}

void Simulation::AttachLink(link::HidSerialLink& link) {
    link.platform = &bridge_;
    link.clock = &linkClock_;
    attached_ = &link;
}

bool Simulation::Finish(std::string& error) {
    if (!finished_) {
        finished_ = true;
        if (!options_.flash_out.empty()) {
            finishedOk_ = target_.WriteFlashOut(options_.flash_out, finishError_);
        }
        if (finishedOk_) finishedOk_ = target_.FlashDirOk(finishError_);
    }
    if (!finishedOk_) error = finishError_;
    return finishedOk_;
}

}  // namespace farsend::sim

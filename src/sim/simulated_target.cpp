#include "sim/simulated_target.h"

#include "sim/sim_bridge.h"
#include "sim/target_packets.h"
#include "sim/target_time.h"

namespace farsend::sim {

namespace {

using namespace target_time;

FaultRng DerivedRng(uint64_t seed, int stream) {
    FaultRng seeder(seed);
    uint64_t value = seeder.Next();
    for (int i = 0; i < stream; ++i) value = seeder.Next();
    return FaultRng(value);
}

}  // namespace

SimulatedTarget::SimulatedTarget(const SimOptions& options, PlugState* plug)
    : options_(options),
      plug_(plug != nullptr ? plug : &own_plug_),
      byte_time_(options.baud == 0 ? 0
                                   : (int64_t{kBitsPerSerialByte} * 1000000000 + options.baud - 1) /
                                         options.baud),
      erase_time_(options.baud == 0 ? 0 : Nanos{kEraseTimePerBlock.count()} * 1000),
      write_time_(options.baud == 0 ? 0 : Nanos{kWriteTimePerBlock.count()} * 1000),
      inbound_rng_(DerivedRng(options.seed, 0)),
      outbound_rng_(DerivedRng(options.seed, 1)),
      next_arrival_(kNever),
      take_out_at_(kNever) {
    if (!options_.flash_dir.empty()) {
        mirror_ = std::make_unique<FlashMirror>(options_.flash_dir,
                                                SimBridge::LocationOf(options_.bridge_number));
    }
}

SimulatedTarget::~SimulatedTarget() {
    if (serial_log_ != nullptr) std::fclose(serial_log_);
}

// --- Observations -----------------------------------------------------------

FlashContents SimulatedTarget::Flash() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_.Contents();
}
uint32_t SimulatedTarget::TargetsArrived() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_arrived_;
}
bool SimulatedTarget::CanStillCall() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Unplugged() || Silenced()) return false;
    if (!started_) return options_.targets > 0;
    return phase_ != Phase::NoTarget || next_arrival_ != kNever;
}
uint32_t SimulatedTarget::BoardsTakenOut() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_out_;
}
uint32_t SimulatedTarget::TargetsProgrammed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_programmed_;
}
uint32_t SimulatedTarget::BlocksAccepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_accepted_;
}
uint32_t SimulatedTarget::BlocksRefused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_refused_;
}
uint64_t SimulatedTarget::BytesReceived() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_received_;
}
std::vector<ReceivedCommand> SimulatedTarget::Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

}  // namespace farsend::sim

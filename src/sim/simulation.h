// A whole simulation put together from the --sim options: the plug, the
// simulated target and the simulated bridge in front of it, the serial log
// and, at the end, the flash-out file.
//
// Only the entry points create one, when --simulate is given; they hand its
// platform and clock to the link (AttachLink does both) and nothing below
// them knows that the bridge is not real.
#pragma once

#include <memory>
#include <string>

#include "common/clock.h"
#include "link/hid_platform.h"
#include "link/hid_serial_link.h"
#include "sim/plug_state.h"
#include "sim/sim_bridge.h"
#include "sim/sim_options.h"
#include "sim/simulated_target.h"

namespace farsend::sim {

class Simulation {
public:
    // Builds everything from `options` and opens the serial log if one is
    // asked for. `clock` is the time the bridge and the target live in (a
    // virtual clock in tests); null means the real clock. Null result: the
    // serial log or the --sim-flash-dir folder could not be created, and
    // `error` says why.
    static std::unique_ptr<Simulation> Create(const SimOptions& options, std::string& error,
                                              Clock* clock = nullptr);

    // Stops and detaches an attached link first (its reader must not outlive
    // the bridge), then finishes, ignoring a failure to write the flash-out
    // file; call Finish() to hear of one.
    ~Simulation();
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    // The bridge, for the link's platform.
    link::HidPlatform& Platform() { return bridge_; }
    // For the link's clock: it delivers the target's output when a pause or
    // a wait reaches its time, which virtual time needs and real time does
    // not mind.
    Clock& LinkClock() { return linkClock_; }
    // Sets the link's platform and clock. The link must be closed; it is
    // closed again and detached when the simulation ends, so every thread
    // that uses it (the connection monitor, a job) must have stopped by then.
    void AttachLink(link::HidSerialLink& link);

    SimulatedTarget& Target() { return target_; }
    SimBridge& Bridge() { return bridge_; }
    PlugState& Plug() { return plug_; }
    const SimOptions& Options() const { return options_; }

    // Writes the most recent target's flash to the flash-out file, when one
    // was asked for, and tells whether every --sim-flash-dir file could be
    // written. Only the first call writes; later ones repeat its result.
    bool Finish(std::string& error);

    static SimBridgeOptions BridgeOptionsFor(const SimOptions& options, PlugState& plug,
                                             Clock* clock);

private:
    Simulation(const SimOptions& options, Clock* clock);

    const SimOptions options_;
    PlugState plug_;
    SimulatedTarget target_;
    SimBridge bridge_;
    SimBridgeClock linkClock_;
    link::HidSerialLink* attached_ = nullptr;
    bool finished_ = false;
    bool finishedOk_ = true;
    std::string finishError_;
};

}  // namespace farsend::sim

#include "cli/station_wiring.h"

#include <optional>

#include "cli/bridge_advice.h"
#include "cli/exit_status.h"

namespace farsend::cli {

StopStatus Wire(const CliOptions& options, Console& console, const Environment& env,
                const StationPlan& plan, Wiring& wiring) {
    link::HidPlatform* platform =
        env.systemPlatform != nullptr ? env.systemPlatform : &wiring.noPlatform;
    if (options.sim.simulate) {
        std::string error;
        const sim::SimOptions bridge = sim::ForBridge(options.sim, plan.simBridge);
        wiring.simulation = sim::Simulation::Create(
            bridge, error, options.sim.real_time ? nullptr : &wiring.simulatedTime);
        if (!wiring.simulation) {
            Complain(console, error);
            return kExitUsage;
        }
        platform = &wiring.simulation->Platform();
        wiring.seat.clock = &wiring.simulation->LinkClock();
    }
    // watch on a named bridge is a station's loop: a bridge not plugged in
    // yet, or being replugged, is waited for (under --wait), as targets are.
    // A simulated bridge never comes back.
    bool waiting = false;
    std::optional<BridgeFound> named;
    if (!plan.device.empty()) {
        named = BridgeNamed(FindBridges(*platform), plan.device);
        wiring.bridge = std::make_unique<StationBridge>(plan.device, named);
        wiring.seat.locator = wiring.bridge.get();
        if (!named && !InterfaceNamed(*platform, plan.device)) {
            if (!RunsAsWatch(options.command) || options.sim.simulate) {
                Complain(console,
                         "--device " + plan.device +
                             ": no such HID interface; `farsend devices` lists the bridges.");
                return kExitNoTarget;
            }
            Complain(console, "waiting for the bridge " + plan.device + " to be plugged in.");
            waiting = true;
        }
    }
    wiring.seat.platform = platform;
    if (waiting) return std::nullopt;
    if (plan.device.empty() ? CountBridges(*platform) == 0 : !named) {
        if (!plan.device.empty()) {
            Complain(console, plan.device + " is not the bridge (" + BridgeIdText() +
                                  "); `farsend devices` lists the bridges.");
        } else if (options.sim.simulate) {
            Complain(console, "the simulated bridge is unplugged.");
        } else {
            Complain(console, NoBridgeAdvice());
        }
        return kExitNoTarget;
    }
    return std::nullopt;
}

std::string DiagnosticNameOf(const CliOptions& options, const StationPlan& plan) {
    return options.all || options.devices.size() > 1 ? plan.name : std::string();
}

}  // namespace farsend::cli

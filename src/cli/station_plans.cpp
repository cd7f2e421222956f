#include "cli/station_plans.h"

#include "cli/bridge_advice.h"
#include "cli/exit_status.h"
#include "cli/station_bridge.h"
#include "link/bridge_name.h"
#include "link/hid_platform.h"
#include "sim/sim_bridge.h"

namespace farsend::cli {

bool PlanStations(const CliOptions& options, Console& console, const Environment& env,
                  std::vector<StationPlan>& plans, int& status) {
    if (options.sim.simulate) {
        const uint32_t bridges = options.sim.bridges;
        auto planOf = [&options](uint32_t number) {
            return StationPlan{sim::SimBridge::LocationOf(number), "", number,
                               sim::BridgeSerialOf(options.sim, number)};
        };
        if (options.devices.empty()) {
            for (uint32_t number = 1; number <= (options.all ? bridges : 1); ++number) {
                plans.push_back(planOf(number));
            }
            return true;
        }
        for (const std::string& device : options.devices) {
            uint32_t found = 0;
            for (uint32_t number = 1; number <= bridges && found == 0; ++number) {
                if (device == sim::SimBridge::PathOf(number) ||
                    device == sim::SimBridge::LocationOf(number) ||
                    device == sim::BridgeSerialOf(options.sim, number)) {
                    found = number;
                }
            }
            if (found == 0) {
                // Bridge 1 has the simulation's other HID interfaces too; its
                // station's filter says what this name is.
                StationPlan plan = planOf(1);
                plan.name = device;
                plan.device = device;
                plans.push_back(plan);
                continue;
            }
            plans.push_back(planOf(found));
        }
        return true;
    }
    link::NullHidPlatform none;
    link::HidPlatform& platform = env.systemPlatform != nullptr ? *env.systemPlatform : none;
    const std::vector<BridgeFound> bridges = FindBridges(platform);
    auto nameOf = [](const BridgeFound& bridge) {
        return link::BridgeDefaultName(bridge.path, {bridge.location, bridge.serial});
    };
    if (options.all) {
        for (const BridgeFound& bridge : bridges) {
            plans.push_back({nameOf(bridge), nameOf(bridge), 0, bridge.serial});
        }
        if (plans.empty() && !RunsAsWatch(options.command)) {
            Complain(console, NoBridgeAdvice());
            status = kExitNoTarget;
            return false;
        }
        return true;
    }
    if (options.devices.empty()) {
        StationPlan plan;
        if (!bridges.empty()) {
            plan.name = nameOf(bridges.front());
            plan.bridgeSerial = bridges.front().serial;
        }
        plans.push_back(plan);
        return true;
    }
    for (const std::string& device : options.devices) {
        StationPlan plan{device, device, 0, ""};
        for (const BridgeFound& bridge : bridges) {
            if (link::BridgeAnswersTo(device, bridge.path, {bridge.location, bridge.serial})) {
                plan.name = nameOf(bridge);
                plan.bridgeSerial = bridge.serial;
            }
        }
        plans.push_back(plan);
    }
    return true;
}

}  // namespace farsend::cli

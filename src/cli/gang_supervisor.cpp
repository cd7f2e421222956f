#include "cli/gang_supervisor.h"

#include "cli/interrupt.h"
#include "cli/station_bridge.h"
#include "common/clock.h"
#include "link/bridge_name.h"

namespace farsend::cli {

namespace {

// A line the operator typed during watch: a socket's number (as on the
// board) or name, whose failed board is to be tried again.
void RetryTyped(const std::string& typed, const std::vector<std::unique_ptr<StationRun>>& stations,
                const std::function<void(const std::string&)>& say) {
    std::string line = typed;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    while (!line.empty() && line.front() == ' ') line.erase(line.begin());
    if (line.empty()) return;
    for (size_t i = 0; i < stations.size(); ++i) {
        Session& session = *stations[i]->session;
        if (line != std::to_string(i + 1) && line != session.Plan().name) continue;
        if (!session.RetrySocket()) {
            say("socket " + line + " (" + session.Plan().name + ") holds no failed board.");
        }
        return;
    }
    say("no socket " + OneLine(line).substr(0, 40) + ": type a socket's number (1 to " +
        std::to_string(stations.size()) + ") or its name, then Enter, to try its board again.");
}

}  // namespace

void SuperviseStations(const CliOptions& options, const Environment& env, Policy policy,
                       RunShared& shared, std::vector<std::unique_ptr<StationRun>>& stations,
                       StationBoard* board, const std::function<void(const std::string&)>& say,
                       const std::function<StopStatus(const StationPlan&)>& addStation) {
    // From here on a signal lets the target in hand finish and be recorded.
    CatchInterrupt();
    for (auto& station : stations) station->session->StartMonitor();
    // watch --all takes bridges plugged in later too, by their locations.
    const bool discover = options.all && policy == Policy::Watch && !options.sim.simulate;
    Millis lastLook = RealClock().Now();
    bool stopAll = false;
    for (;;) {
        bool running = false;
        for (auto& station : stations) {
            if (station->stopped) continue;
            if (station->session->WaitStopped(running ? Millis(0) : Millis(50))) {
                station->stopped = true;
                continue;
            }
            running = true;
            Session& session = *station->session;
            if (session.RealTime() && session.DeadlinePassed()) session.RequestStop();
        }
        if (policy == Policy::Watch && env.operatorInput != nullptr) {
            for (std::string line; env.operatorInput->NextLine(line);) {
                if (board != nullptr) board->LineTyped();
                RetryTyped(line, stations, say);
            }
        }
        if (!stopAll &&
            (Interrupted() || (options.count > 0 && shared.finished >= options.count))) {
            stopAll = true;
        }
        if (stopAll) {
            const bool now = StopNow();
            for (auto& station : stations) {
                if (station->stopped) continue;
                station->session->RequestStop();
                if (now) station->session->StopJobNow();
            }
        }
        if (discover && !stopAll && RealClock().Now() - lastLook >= Millis(1000)) {
            lastLook = RealClock().Now();
            for (const BridgeFound& bridge : FindBridges(*env.systemPlatform)) {
                const std::string name =
                    link::BridgeDefaultName(bridge.path, {bridge.location, bridge.serial});
                bool known = false;
                for (const auto& station : stations) known |= station->session->Plan().name == name;
                if (known) continue;
                if (!addStation({name, name, 0, bridge.serial})) {
                    stations.back()->session->StartMonitor();
                    running = true;
                }
            }
        }
        if (!running && !(discover && !stopAll)) break;
        if (!running) RealClock().SleepFor(Millis(50));
    }
}

}  // namespace farsend::cli

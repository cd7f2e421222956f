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

// What the line page asks of a station, carried out on the run's thread.
line::ActionAnswer CarryOut(const line::LineAction& action,
                            std::vector<std::unique_ptr<StationRun>>& stations, LinePage& page) {
    if (action.station >= stations.size()) return {404, "there is no such station"};
    StationRun& station = *stations[action.station];
    Session& session = *station.session;
    switch (action.kind) {
        case line::ActionKind::Retry:
            if (!session.RetrySocket()) return {409, "this socket holds no failed board"};
            // A simulated socket whose failed board stayed in it ended its
            // monitor; the board is taken again.
            if (station.stopped && !station.paused) {
                station.stopped = false;
                session.StartMonitor();
            }
            return {200, "trying the board again"};
        case line::ActionKind::Stop:
            if (station.paused) return {200, "the station is stopped already"};
            station.paused = true;
            session.RequestStop();
            page.SetStopped(action.station, true);
            return {200, "stopped: a board in hand is finished first, then it takes no more"};
        case line::ActionKind::Continue:
            if (!station.paused) return {409, "the station is not stopped"};
            if (!station.stopped) {
                return {409, "the station is still finishing its board: continue in a moment"};
            }
            station.paused = false;
            station.stopped = false;
            session.StartMonitor();
            page.SetStopped(action.station, false);
            return {200, "the station takes boards again"};
    }
    return {404, "no such action"};
}

}  // namespace

void SuperviseStations(const CliOptions& options, const Environment& env, Policy policy,
                       RunShared& shared, std::vector<std::unique_ptr<StationRun>>& stations,
                       StationBoard* board, LinePage* page,
                       const std::function<void(const std::string&)>& say,
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
        if (page != nullptr) {
            page->Serve(
                [&](const line::LineAction& action) { return CarryOut(action, stations, *page); });
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
        // The page's run ends only when the operator ends it (Ctrl+C): a
        // line whose boards ran out still shows their results.
        if (!running && !(discover && !stopAll) && !(page != nullptr && !stopAll)) break;
        if (!running) RealClock().SleepFor(Millis(50));
    }
}

}  // namespace farsend::cli

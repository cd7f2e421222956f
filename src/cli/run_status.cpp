#include "cli/run_status.h"

#include "cli/exit_status.h"

namespace farsend::cli {

std::string SummaryText(const std::vector<std::unique_ptr<StationRun>>& stations) {
    std::string text = "summary:";
    for (const auto& station : stations) {
        const Session& session = *station->session;
        text += "\n  " + session.Plan().name + ": " + std::to_string(session.Programmed()) +
                " programmed, " + std::to_string(session.Units() - session.Programmed()) +
                " failed";
    }
    return text;
}

int StationStatus(Policy policy, Session& session, bool gang) {
    if (const StopStatus refusal = session.Refusal()) {
        // Its message was shown when the unit was refused.
        if (session.Units() == 0) return *refusal;
        const int done = policy == Policy::Watch ? session.LastFailure() : session.LastStatus();
        return MoreSerious(done, *refusal);
    }
    if (session.Units() == 0) {
        if (gang && policy == Policy::Watch) return kExitSuccess;  // a socket nobody used
        if (session.NoMoreTargets()) {
            Complain(session.StationConsole(),
                     "no simulated target can call (--sim-targets, --sim-faults); "
                     "nothing was programmed.");
        } else {
            session.NoTargetMessage();
        }
        return kExitNoTarget;
    }
    if (policy == Policy::Watch) {
        if (session.FailedBoardStays()) {
            Complain(session.StationConsole(),
                     "the failed board stays in its simulated socket (--sim-swap takes it out): "
                     "watch ends after " +
                         std::to_string(session.Units()) + " unit" +
                         (session.Units() == 1 ? "" : "s") + ".");
        } else if (session.NoMoreTargets()) {
            Complain(session.StationConsole(),
                     "the simulation has no more targets: watch ends after " +
                         std::to_string(session.Units()) + " unit" +
                         (session.Units() == 1 ? "" : "s") + ".");
        }
        return session.LastFailure();
    }
    return session.LastStatus();
}

}  // namespace farsend::cli

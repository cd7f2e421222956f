#include "jobs/station_controller.h"

#include "jobs/station_state.h"

namespace farsend::jobs {
namespace {

JobAttempt Refused(JobRefusal refusal) {
    JobAttempt attempt;
    attempt.refusal = refusal;
    return attempt;
}

bool Connected(const StationState& station) {
    return station.connectionState == ConnectionState::Connected;
}

}  // namespace

const char* JobRefusalName(JobRefusal refusal) {
    switch (refusal) {
        case JobRefusal::None:
            return "ran";
        case JobRefusal::NotConnected:
            return "not connected";
        case JobRefusal::Busy:
            return "busy";
        case JobRefusal::LinkInUse:
            return "link in use";
        case JobRefusal::NoFile:
            return "no file";
        case JobRefusal::EraseAllDeclined:
            return "erase-all declined";
    }
    return "?";
}

JobAttempt ProgramStation(const JobEnvironment& environment, const FirmwareChoice& choice,
                          StationFrontEnd& frontEnd) {
    StationState& station = environment.station;
    if (station.programmingBusy) return Refused(JobRefusal::Busy);
    if (!Connected(station)) return Refused(JobRefusal::NotConnected);
    station.programmingBusy = true;
    std::string path = PathToProgram(choice, station);
    if (path.empty()) {
        std::optional<std::string> chosen = frontEnd.ChooseFile();
        if (!chosen || chosen->empty()) {
            station.programmingBusy = false;
            return Refused(JobRefusal::NoFile);
        }
        path = std::move(*chosen);
    }
    JobAttempt attempt;
    // The job clears programmingBusy.
    attempt.report = RunJobWorker(ProgrammingJobFor(choice.flashMode), path, environment);
    return attempt;
}

JobAttempt EraseStation(const JobEnvironment& environment, const FirmwareChoice& choice,
                        StationFrontEnd& frontEnd) {
    StationState& station = environment.station;
    if (station.erasingBusy) return Refused(JobRefusal::Busy);
    if (!Connected(station)) return Refused(JobRefusal::NotConnected);
    const LinkClaim claim(station.linkUser, LinkUser::Operator);
    if (!claim.Held()) return Refused(JobRefusal::LinkInUse);
    const bool all = choice.flashMode == FlashMode::BootloaderAndApplication;
    if (all && !frontEnd.ConfirmEraseAll()) return Refused(JobRefusal::EraseAllDeclined);
    station.erasingBusy = true;
    JobAttempt attempt;
    // The job clears erasingBusy.
    attempt.report =
        RunJobWorker(all ? JobKind::EraseAll : JobKind::EraseDefault, std::string(), environment);
    return attempt;
}

}  // namespace farsend::jobs

#include "jobs/station_controller.h"

#include "jobs/station_state.h"

namespace farsend::jobs {
namespace {

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

JobRefusal StartProgramming(StationState& station, const FirmwareChoice& choice,
                            StationFrontEnd& frontEnd, const JobRun& run) {
    if (station.programmingBusy) return JobRefusal::Busy;
    if (!Connected(station)) return JobRefusal::NotConnected;
    station.programmingBusy = true;
    const FlashMode mode = choice.flashMode;
    std::string path = PathToProgram(choice, station);
    if (path.empty()) {
        std::optional<std::string> chosen = frontEnd.ChooseFile();
        if (!chosen || chosen->empty()) {
            station.programmingBusy = false;
            return JobRefusal::NoFile;
        }
        path = std::move(*chosen);
    }
    run(ProgrammingJobFor(mode), path);
    return JobRefusal::None;
}

JobRefusal StartErase(StationState& station, const FirmwareChoice& choice,
                      StationFrontEnd& frontEnd, const JobRun& run) {
    if (station.erasingBusy) return JobRefusal::Busy;
    if (!Connected(station)) return JobRefusal::NotConnected;
    const LinkClaim claim(station.linkUser, LinkUser::Operator);
    if (!claim.Held()) return JobRefusal::LinkInUse;
    const bool all = choice.flashMode == FlashMode::BootloaderAndApplication;
    if (all && !frontEnd.ConfirmEraseAll()) return JobRefusal::EraseAllDeclined;
    station.erasingBusy = true;
    run(all ? JobKind::EraseAll : JobKind::EraseDefault, std::string());
    return JobRefusal::None;
}

JobAttempt ProgramStation(const JobEnvironment& environment, const FirmwareChoice& choice,
                          StationFrontEnd& frontEnd) {
    JobAttempt attempt;
    attempt.refusal = StartProgramming(environment.station, choice, frontEnd,
                                       [&](JobKind kind, const std::string& path) {
                                           attempt.report = RunJobWorker(kind, path, environment);
                                       });
    return attempt;
}

JobAttempt EraseStation(const JobEnvironment& environment, const FirmwareChoice& choice,
                        StationFrontEnd& frontEnd) {
    JobAttempt attempt;
    attempt.refusal = StartErase(environment.station, choice, frontEnd,
                                 [&](JobKind kind, const std::string& path) {
                                     attempt.report = RunJobWorker(kind, path, environment);
                                 });
    return attempt;
}

}  // namespace farsend::jobs

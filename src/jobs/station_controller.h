// A station's jobs as a front end asks for them: the checks before a job
// (connected, not busy, the link free, a file, the erase-all answer), the
// job on the calling thread, and a typed result. A front end supplies only
// what a person decides, through StationFrontEnd; everything else it is
// told through the station's events. The window program keeps its own
// commands (app/commands.h), which open a modal dialog around the job.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "jobs/firmware_choice.h"
#include "jobs/job_report.h"
#include "jobs/job_workers.h"
#include "jobs/station_state.h"

namespace farsend::jobs {

// What only a person at the station can decide.
class StationFrontEnd {
public:
    virtual ~StationFrontEnd() = default;
    // The file to program when none is chosen; none: nothing is programmed.
    virtual std::optional<std::string> ChooseFile() = 0;
    // Whether all of the flash, the bootloader included, may be erased.
    virtual bool ConfirmEraseAll() = 0;
};

// Why a job that was asked for did not run.
enum class JobRefusal {
    None,              // it ran
    NotConnected,      // no target is connected
    Busy,              // a job of the same kind is running
    LinkInUse,         // the monitor's attempt has the link
    NoFile,            // none chosen, and the front end gave none
    EraseAllDeclined,  // the front end said no to erasing all of the flash
};

// "ran", "not connected", "busy", "link in use", "no file", "erase-all
// declined".
const char* JobRefusalName(JobRefusal refusal);

struct JobAttempt {
    JobRefusal refusal = JobRefusal::None;
    std::optional<JobReport> report;  // when it ran
};

// Runs a job once its checks have passed: farsend on the calling thread, the
// window program in its modal job dialog.
using JobRun = std::function<void(JobKind kind, const std::string& path)>;

// The checks before a programming job, in this order: not while one runs, a
// connected target, then the file (the one the monitor checked, else the
// chosen one, else the front end's). Then RUN, with programmingBusy set for
// the job to clear.
JobRefusal StartProgramming(StationState& station, const FirmwareChoice& choice,
                            StationFrontEnd& frontEnd, const JobRun& run);

// The checks before an erase, in this order: not while one runs, a
// connected target, the link free for the operator (held until RUN
// returns), then the front end's yes to erasing all of the flash in the
// bootloader and application mode. Then RUN, with erasingBusy set for the
// job to clear.
JobRefusal StartErase(StationState& station, const FirmwareChoice& choice,
                      StationFrontEnd& frontEnd, const JobRun& run);

// The programming job of the choice's flash mode on the connected target:
// with the file the monitor checked, else the chosen one, else the one the
// front end gives.
JobAttempt ProgramStation(const JobEnvironment& environment, const FirmwareChoice& choice,
                          StationFrontEnd& frontEnd);

// The erase of the connected target's flash: all of it in the bootloader
// and application mode, once the front end has said yes. The link is held
// for the operator meanwhile.
JobAttempt EraseStation(const JobEnvironment& environment, const FirmwareChoice& choice,
                        StationFrontEnd& frontEnd);

}  // namespace farsend::jobs

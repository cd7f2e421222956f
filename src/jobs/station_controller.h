// A station's jobs as a front end asks for them: the checks before a job
// (connected, not busy, the link free, a file, the erase-all answer), the
// job on the calling thread, and a typed result. A front end supplies only
// what a person decides, through StationFrontEnd; everything else it is
// told through the station's events. The window program keeps its own
// commands (app/commands.h), which open a modal dialog around the job.
#pragma once

#include <optional>
#include <string>

#include "jobs/firmware_choice.h"
#include "jobs/job_report.h"
#include "jobs/job_workers.h"

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

#include "jobs/job_report.h"

namespace farsend::jobs {

bool IsProgrammingJob(JobKind kind) {
    return kind == JobKind::ProgramApplication || kind == JobKind::ProgramBootloaderAndApplication;
}

const char* JobOutcomeName(JobOutcome outcome) {
    switch (outcome) {
        case JobOutcome::Success:
            return "success";
        case JobOutcome::FileOpenFailed:
            return "file open failed";
        case JobOutcome::FileFormatError:
            return "file format error";
        case JobOutcome::CommunicationError:
            return "communication error";
        case JobOutcome::EraseError:
            return "erase error";
        case JobOutcome::Interrupted:
            return "interrupted";
        case JobOutcome::BridgeUnplugged:
            return "bridge unplugged";
    }
    return "?";
}

}  // namespace farsend::jobs

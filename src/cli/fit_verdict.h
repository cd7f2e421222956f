// What farsend says of a file the station refused as unfit for the
// connected target: the station tells why (a query the target left
// unanswered, or what the target is beside what the file is for); a silent
// target is a communication problem, not a wrong file.
#pragma once

#include <string>

#include "jobs/station_events.h"

namespace farsend::cli {

struct FitVerdict {
    int status;  // kExitCommunication or kExitDoesNotFit
    std::string message;
};

FitVerdict VerdictOf(const jobs::events::Refused& refused);

}  // namespace farsend::cli

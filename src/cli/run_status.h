// How a run of program or watch over its stations ends: each station's
// status with what it has to say, and the summary of several.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/gang_supervisor.h"
#include "cli/station_session.h"

namespace farsend::cli {

// Shown at the end of a run of several stations, on standard error.
std::string SummaryText(const std::vector<std::unique_ptr<StationRun>>& stations);

// The status of one station's program or watch, with its messages shown.
int StationStatus(Policy policy, Session& session, bool gang);

}  // namespace farsend::cli

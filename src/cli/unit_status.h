// The exit status that stands for a unit's outcome: what a run of program
// or watch ends with, and the number its records carry as "status".
#pragma once

#include "units/record/unit_outcome.h"

namespace farsend::cli {

int ExitStatusOf(units::UnitOutcome outcome);

}  // namespace farsend::cli

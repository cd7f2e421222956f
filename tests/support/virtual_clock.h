// Tests run deadlines on the same virtual clock that simulated runs use.
#pragma once

#include "common/virtual_clock.h"

namespace farsend::testing {

using farsend::VirtualClock;

}  // namespace farsend::testing

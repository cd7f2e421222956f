// Cutting a PostgreSQL session's connection from another thread, so that a
// call waiting for a server that stopped answering returns (see
// statement_watchdog.h).
#pragma once

#include <functional>

#include "units/soci.h"

namespace farsend::units {

// Shuts the session's socket down; empty when the socket cannot be had.
std::function<void()> ConnectionCutter(soci::session& sql);

}  // namespace farsend::units

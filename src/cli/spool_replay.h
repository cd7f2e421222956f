// The spool written into the database before a command starts: what a
// station kept while its database was lost. A long spool (thousands of
// records) takes a while, so the operator hears what is replayed and how far
// it has got; a signal stops it between records, the rest staying in the
// spool for the next start.
#pragma once

#include <filesystem>
#include <string>

#include "cli/console.h"
#include "units/unit_database.h"

namespace farsend::cli {

struct StartReplay {
    units::ReplayResult result;
    bool stopped = false;  // a signal ended it early
};

// Throws units::UnitDatabaseError as ReplaySpool does.
StartReplay ReplaySpoolAtStart(units::UnitDatabase& db, const std::filesystem::path& spool,
                               Console& console);

// What the replay did, as lines for the operator ("" for nothing to say).
std::string ReplayNotice(const StartReplay& replay, const std::filesystem::path& spool);

}  // namespace farsend::cli

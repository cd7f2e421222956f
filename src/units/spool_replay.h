// The spool written into the database before a command starts: what a
// station kept while its database was lost. A long spool (thousands of
// records) takes a while, so the operator hears what is replayed and how far
// it has got; a signal stops it between records, the rest staying in the
// spool for the next start.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "common/clock.h"
#include "units/unit_database.h"

namespace farsend::units {

struct StartReplay {
    ReplayResult result;
    bool stopped = false;  // a signal ended it early
};

// What the operator is to read, a line at a time.
using Tell = std::function<void(const std::string&)>;

// `stop` is asked between records (a signal came). `clock` paces the
// progress lines. Throws UnitDatabaseError as ReplaySpool does.
StartReplay ReplaySpoolAtStart(UnitDatabase& db, const std::filesystem::path& spool,
                               const Tell& tell, const std::function<bool()>& stop,
                               Clock& clock = RealClock());

// What the replay did, as lines for the operator ("" for nothing to say).
std::string ReplayNotice(const StartReplay& replay, const std::filesystem::path& spool);

}  // namespace farsend::units

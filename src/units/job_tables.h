// The unit database's part for production jobs: which job each unit was
// programmed under, how many units each limited job has started, and the
// keys whose signatures a line accepts.
#pragma once

#include "units/unit_database.h"

namespace farsend::units {

// Adds the job columns to the units table and creates job_units and
// signing_keys, inside the caller's transaction (a new database, or one of
// schema version 2 brought forward).
void AddJobTables(soci::session& sql);

// Counts one more unit against `start`'s job and its limit, inside the
// caller's transaction: the job's count row is locked (SQLite: the whole
// file, by BEGIN IMMEDIATE) from the count until the unit's row is in, so
// two stations can never both take the last unit. Throws JobLimitReached
// when the job has started all it may. The limit is the one of the job's
// first unit: it is part of the signed file whose SHA-256 keys the row.
void CountJobUnit(soci::session& sql, Engine engine, const UnitStart& start);

// How many units the job of this SHA-256 has started (0 for none).
std::int64_t JobUnitsStarted(UnitDatabase& db, const std::string& jobSha256);

}  // namespace farsend::units

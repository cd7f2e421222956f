#include "units/job_tables.h"

#include "units/soci.h"

namespace farsend::units {

void AddJobTables(soci::session& sql) {
    sql << "ALTER TABLE units ADD COLUMN job_name TEXT NOT NULL DEFAULT ''";
    sql << "ALTER TABLE units ADD COLUMN job_sha256 TEXT NOT NULL DEFAULT ''";
    sql << "CREATE INDEX units_job_name ON units (job_name)";
    sql << "CREATE TABLE job_units ("
           " job_sha256 TEXT PRIMARY KEY,"
           " job_name TEXT NOT NULL,"
           " unit_limit BIGINT NOT NULL,"
           " started BIGINT NOT NULL)";
    sql << "CREATE TABLE signing_keys ("
           " id TEXT PRIMARY KEY,"
           " public_key TEXT NOT NULL,"
           " trusted_time TEXT NOT NULL,"
           " revoked_time TEXT)";
}

void CountJobUnit(soci::session& sql, Engine, const UnitStart& start) {
    const long long limit = *start.jobUnitLimit;
    // A second station inserting at once waits for the first one's row
    // (PostgreSQL) and then leaves it be.
    sql << "INSERT INTO job_units (job_sha256, job_name, unit_limit, started)"
           " VALUES (:sha, :name, :limit, 0) ON CONFLICT (job_sha256) DO NOTHING",
        soci::use(start.jobSha256, "sha"), soci::use(start.jobName, "name"),
        soci::use(limit, "limit");
    // The test and the count in one statement: the row stays locked by it
    // until the unit's row is in and committed, and a station that waited
    // for the lock tests the count the other one left (PostgreSQL reads the
    // row again after the wait; SQLite's writers take turns), so two
    // stations can never both take the last unit.
    soci::statement count = (sql.prepare << "UPDATE job_units SET started = started + 1"
                                            " WHERE job_sha256 = :sha AND started < unit_limit",
                             soci::use(start.jobSha256, "sha"));
    count.execute(true);
    if (count.get_affected_rows() == 0) {
        throw UnitDatabaseError(UnitDatabaseError::Kind::JobLimitReached,
                                "the production job '" + start.jobName +
                                    "' has reached its limit of " + std::to_string(limit) +
                                    " units");
    }
}

std::int64_t JobUnitsStarted(UnitDatabase& db, const std::string& jobSha256) {
    long long started = 0;
    db.Run("counting a job's units", false, [&](soci::session& sql, Engine) {
        soci::indicator indicator = soci::i_null;
        sql << "SELECT started FROM job_units WHERE job_sha256 = :sha", soci::use(jobSha256, "sha"),
            soci::into(started, indicator);
        if (!sql.got_data() || indicator != soci::i_ok) started = 0;
    });
    return started;
}

}  // namespace farsend::units

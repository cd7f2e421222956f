// The unit database's schema: its tables, and bringing an older one up to
// date.
#include <string>

#include "units/job_tables.h"
#include "units/unit_counts.h"
#include "units/unit_database_impl.h"

namespace farsend::units::detail {

// The dashboard's queries: counts per hour and station read from the index
// alone, in the order they are grouped in (no sort of a million rows),
// failures without a pass over the passes, a unit by its number.
void CreateQueryIndexes(soci::session& sql) {
    sql << "CREATE INDEX units_hour_counts ON units"
           " (substr(start_time, 1, 13), host, station, result, start_time)";
    sql << "CREATE INDEX units_result_start ON units (result, start_time)";
    sql << "CREATE INDEX units_serial ON units (serial)";
}

void CreateTables(Impl& db) {
    soci::session& sql = db.sql;
    sql << "CREATE TABLE pools ("
           " name TEXT PRIMARY KEY,"
           " first_number BIGINT NOT NULL,"
           " last_number BIGINT,"
           " next_number BIGINT NOT NULL)";
    sql << "CREATE TABLE returned_numbers ("
           " pool TEXT NOT NULL REFERENCES pools (name),"
           " number BIGINT NOT NULL,"
           " PRIMARY KEY (pool, number))";
    sql << std::string("CREATE TABLE units (id ") + UnitIdColumn(db.engine) +
               ","
               " record_id TEXT NOT NULL UNIQUE,"
               " start_time TEXT NOT NULL,"
               " end_time TEXT,"
               " host TEXT NOT NULL DEFAULT '',"
               " station TEXT NOT NULL,"
               " bridge_serial TEXT NOT NULL,"
               " variant TEXT NOT NULL DEFAULT '',"
               " version TEXT NOT NULL DEFAULT '',"
               " file TEXT NOT NULL,"
               " sha256 TEXT NOT NULL,"
               " pool TEXT REFERENCES pools (name),"
               " serial BIGINT,"
               " number_returned INTEGER NOT NULL DEFAULT 0,"
               " blocks BIGINT NOT NULL DEFAULT 0,"
               " bytes BIGINT NOT NULL DEFAULT 0,"
               " seconds DOUBLE PRECISION NOT NULL DEFAULT 0,"
               " result TEXT,"
               " exit_status INTEGER,"
               " message TEXT NOT NULL DEFAULT '',"
               " simulated INTEGER NOT NULL DEFAULT 0)";
    // The last guard against a number issued twice, whatever the code above
    // it does: a returned number may appear again, an issued one may not.
    sql << "CREATE UNIQUE INDEX units_issued_serial ON units (pool, serial)"
           " WHERE number_returned = 0";
    sql << "CREATE INDEX units_start_time ON units (start_time)";
    CreateQueryIndexes(sql);
    CreateUnitCounts(sql);
    AddJobTables(sql);
    const int version = kSchemaVersion;
    sql << "INSERT INTO schema_version (version) VALUES (:version)", soci::use(version);
}

// Brings a database of an older schema to this one, inside the caller's
// transaction. Version 1 had no host (its rows say ''; they were written
// before PCs were told apart) and no simulated mark (its rows count as real).
void Migrate(Impl& db, int from) {
    if (from < 2) {
        db.sql << "ALTER TABLE units ADD COLUMN host TEXT NOT NULL DEFAULT ''";
        db.sql << "ALTER TABLE units ADD COLUMN simulated INTEGER NOT NULL DEFAULT 0";
    }
    // Version 2 had no production jobs (its rows were programmed under none)
    // and none of the dashboard's indexes.
    if (from < 3) {
        AddJobTables(db.sql);
        CreateQueryIndexes(db.sql);
    }
    // Version 3 counted its units for the dashboard at every question; the
    // counts are made once here, from the units there.
    if (from < 4) {
        CreateUnitCounts(db.sql);
        RecountUnits(db.sql);
    }
    const int version = kSchemaVersion;
    db.sql << "INSERT INTO schema_version (version) VALUES (:version)", soci::use(version);
}

// Creates the schema in an empty database, or checks the one there.
void PrepareSchema(Impl& db, const std::string& location) {
    Transaction transaction(db);
    if (db.engine == Engine::PostgreSQL) {
        // Two stations starting at once on an empty database would both
        // create the tables; this lock lets one of them do it.
        db.sql << "SELECT pg_advisory_xact_lock(5317001)";
    }
    db.sql << "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";
    long long rows = 0;
    db.sql << "SELECT count(*) FROM schema_version", soci::into(rows);
    if (rows == 0) {
        CreateTables(db);
        db.version = kSchemaVersion;
    } else {
        int version = 0;
        db.sql << "SELECT max(version) FROM schema_version", soci::into(version);
        if (version > kSchemaVersion) {
            throw UnitDatabaseError(
                Kind::SchemaTooNew,
                "the unit database " + DisplayLocation(location) + " has schema version " +
                    std::to_string(version) + ", newer than this program's (" +
                    std::to_string(kSchemaVersion) +
                    "): a newer farsend wrote it; use that one, or another database");
        }
        if (version < kSchemaVersion) {
            Migrate(db, version);
            version = kSchemaVersion;
        }
        db.version = version;
    }
    transaction.Commit();
}

}  // namespace farsend::units::detail

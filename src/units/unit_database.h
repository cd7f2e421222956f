// The unit database: one row for every unit a station handles, and the named
// pools that per-unit serial numbers are taken from. One SQLite file serves a
// single PC; a PostgreSQL server (a postgresql:// URL) serves several PCs on
// one line, which then share the pools without ever issuing a number twice.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/utc_time.h"
#include "units/record/unit_record.h"

namespace soci {
class session;
}

namespace farsend::units {

using TimePoint = std::chrono::system_clock::time_point;

enum class Engine { SQLite, PostgreSQL };

// The schema this program writes; a database carrying a higher version was
// written by a newer program and is refused rather than misread.
// 2: units.host, units.simulated; 3: production jobs (units.job_name,
// units.job_sha256, job_units, signing_keys) and indexes for the dashboard's
// queries; 4: unit_counts, the units counted per hour, station, result and
// failure reason.
constexpr int kSchemaVersion = 4;
// The first version that keeps unit_counts.
constexpr int kCountedSchemaVersion = 4;

class UnitDatabaseError : public std::runtime_error {
public:
    enum class Kind {
        Unavailable,      // cannot be opened or stopped answering
        FileReplaced,     // the SQLite file was deleted or another put in its place
        SchemaTooNew,     // written by a newer program
        PoolExists,       // CreatePool: the name is taken
        UnknownPool,      // no pool of that name
        PoolExhausted,    // every number of the pool has been issued
        UnknownUnit,      // no unit row of that id
        NumberInUse,      // ReturnNumber: blocks were sent, the number is spent
        InvalidArgument,  // e.g. a pool whose last number is below its first
        JobLimitReached,  // the production job has started all the units it may
        KeyRevoked        // a revoked signing key cannot be trusted again
    };
    UnitDatabaseError(Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

struct StartedUnit {
    std::int64_t id = 0;
    std::string recordId;                // unique across databases and spools
    std::optional<std::int64_t> serial;  // taken from the pool, when one was named
};

// The largest number any pool issues (2^63 - 2).
constexpr std::int64_t kLargestPoolNumber = INT64_MAX - 1;

struct PoolInfo {
    std::string name;
    std::int64_t first = 0;
    std::optional<std::int64_t> last;       // none: no upper end
    std::int64_t next = 0;                  // the next number never issued before
    std::int64_t issued = 0;                // numbers out and not returned
    std::int64_t returned = 0;              // returned numbers waiting to be issued again
    std::optional<std::int64_t> remaining;  // none for a pool without an end
};

struct UnitFilter {
    std::optional<TimePoint> since;  // units started at or after
    std::optional<TimePoint> until;  // units started before
    std::optional<std::string> host;
    std::optional<std::string> station;
    std::optional<std::int64_t> serial;
    // The newest first (by start), and at most `limit` of them; else all, the
    // oldest first.
    bool newestFirst = false;
    std::optional<std::size_t> limit;
    std::optional<std::string> job;  // the production job's name
};

// Units per station (its host and location) and per hour (of their start,
// UTC).
struct YieldRow {
    std::string host;
    std::string station;
    std::string hour;  // "2024-05-01T12"
    std::int64_t programmed = 0;
    std::int64_t failed = 0;
    std::int64_t interrupted = 0;
    std::int64_t unfinished = 0;
};

struct ReplayResult {
    std::size_t written = 0;  // records that changed the database
    std::size_t already = 0;  // records the database held already
    std::size_t kept = 0;     // lines left in the spool (unreadable ones)
    std::size_t left = 0;     // records not replayed because `progress` said stop
};

// Hears how far a replay has got (`done` of `total` lines); false stops it,
// the rest staying in the spool.
using ReplayProgress = std::function<bool(std::size_t done, std::size_t total)>;

struct DatabaseOptions {
    // For queries: nothing is created or written, so a file or server this
    // user may only read can still be listed.
    bool readOnly = false;
    // An SQLite file's folder is made when missing: for the default location
    // only, so that a mistyped folder is refused rather than filled.
    bool createFolder = false;
    // How long a connection or a statement may go unanswered before the
    // database counts as lost (a PostgreSQL server that stopped answering).
    std::chrono::milliseconds timeout = DefaultDatabaseTimeout();
    // Asked while a PostgreSQL statement is waited for: true gives up the
    // wait as a lost database (a signal asked to stop).
    std::function<bool()> abandon;

    // FARSEND_DB_TIMEOUT (seconds, decimals allowed), else 10 s.
    static std::chrono::milliseconds DefaultDatabaseTimeout();
};

class UnitDatabase {
public:
    // `location`: a postgresql:// (or postgres://) URL, or an SQLite file's
    // path (created when it does not exist; its folder too only with
    // `options.createFolder`, for the default location: a mistyped folder is
    // refused rather than filled). Creates the schema in an empty database and
    // brings an older one forward. Throws UnitDatabaseError: InvalidArgument
    // for a name that is neither (see common/database_name.h), Unavailable or
    // SchemaTooNew. An SQLite file that is deleted or replaced while it is
    // open makes every later call throw FileReplaced.
    static std::unique_ptr<UnitDatabase> Open(const std::string& location,
                                              const DatabaseOptions& options = {});
    virtual ~UnitDatabase();

    Engine engine() const;
    int schemaVersion() const;  // the version the database carries

    // Inserts the unit's row; with `pool`, takes the pool's next number in
    // the same transaction (PoolExhausted, UnknownPool: no row is written).
    StartedUnit StartUnit(const UnitStart& start, const std::optional<std::string>& pool = {});
    void FinishUnit(std::int64_t id, const UnitFinish& finish);
    // For a unit that failed before any block was sent: its number goes back
    // to the pool, to be issued again, and its row records that it did.
    void ReturnNumber(std::int64_t id);

    // A pool's numbers end at kLargestPoolNumber at the latest, with or
    // without a last number: the pool keeps its next number in a signed
    // 64-bit column, and that must hold the one after the last issued too.
    // A first or last number above it is refused (InvalidArgument).
    void CreatePool(const std::string& name, std::int64_t first,
                    std::optional<std::int64_t> last = {});
    std::vector<PoolInfo> ListPools();

    std::vector<UnitRow> ListUnits(const UnitFilter& filter = {});
    // The same rows one at a time, none kept: a listing of any length in
    // little memory.
    void ForEachUnit(const UnitFilter& filter, const std::function<void(const UnitRow&)>& each);
    std::vector<YieldRow> Yield(const UnitFilter& filter = {});

    // Writes the records of a spool file (see spool.h) that the database does
    // not hold yet, then empties the spool of them. A record already present
    // is left as it is, so replaying a spool twice writes each unit once.
    ReplayResult ReplaySpool(const std::filesystem::path& spool,
                             const ReplayProgress& progress = {});

    // Runs `work` on the database's session, for queries kept in files of
    // their own (yield_queries.h): the engines' errors come out as
    // Unavailable, `what` saying what was being done.
    void Query(const char* what, const std::function<void(soci::session&)>& work);
    // Runs `work` on the connection, in a writing transaction when `write`,
    // with the guards every other call has (a lost server, a replaced file):
    // for the tables that other files keep (units/trusted_keys.cpp).
    void Run(const char* what, bool write,
             const std::function<void(soci::session& sql, Engine engine)>& work);

    // Runs `sql` as it is (tests use it to tamper with the schema).
    void ExecuteForTest(const std::string& sql);

    struct Impl;

private:
    explicit UnitDatabase(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

using farsend::FormatUtc;
using farsend::ParseUtc;

// The SQLite file used when none is named (units/posix/, units/win/). On
// Linux $XDG_DATA_HOME/farsend/units.sqlite, or
// ~/.local/share/farsend/units.sqlite when XDG_DATA_HOME is unset or not an
// absolute path; on Windows %LOCALAPPDATA%\farsend\units.sqlite. "" when
// the variables it comes from are not set. `getenv` is for tests.
std::string DefaultDatabaseLocation(const char* (*getenv)(const char*) = nullptr);
// Why DefaultDatabaseLocation is "", for messages: "neither XDG_DATA_HOME nor
// HOME is set", or "LOCALAPPDATA is not set".
const char* NoDefaultDatabaseReason();
// The one simulated runs use when none is named, beside it: sim-units.sqlite.
// Units of a simulated target never mix with the real ones by default.
std::string DefaultSimulatedDatabaseLocation(const char* (*getenv)(const char*) = nullptr);

// The location fit for messages: every password replaced by "***".
std::string DisplayLocation(const std::string& location);

}  // namespace farsend::units

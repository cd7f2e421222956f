#include "units/unit_database.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <ctime>
#include <sstream>
#include <system_error>
#include <utility>

#include "common/database_name.h"
#include "common/printable_text.h"
#include "units/connection_cutter.h"
#include "units/file_identity.h"
#include "units/folders.h"
#include "units/soci.h"
#include "units/statement_watchdog.h"
#include "units/unit_database_impl.h"

namespace farsend::units {

using namespace detail;

namespace detail {

// Everything the engines disagree on.
const char* UnitIdColumn(Engine engine) {
    return engine == Engine::SQLite ? "INTEGER PRIMARY KEY AUTOINCREMENT" : "BIGSERIAL PRIMARY KEY";
}
// SQLite locks the whole file for a writing transaction (BEGIN IMMEDIATE);
// PostgreSQL locks the rows read with FOR UPDATE.
const char* ForUpdate(Engine engine) {
    return engine == Engine::PostgreSQL ? " FOR UPDATE" : "";
}

// A station that kept writing into a deleted file would record units nobody
// will ever see, and one that reopened a file put in its place (a backup)
// would issue its numbers again: either way the database it opened is lost.
void CheckSameFile(const Impl& db) {
    if (!db.identity) return;
    const std::optional<FileIdentity> now = IdentityOf(db.file);
    if (now && *now == *db.identity) return;
    throw UnitDatabaseError(Kind::FileReplaced, "the unit database file " + db.file.string() +
                                                    (now ? " was replaced by another file"
                                                         : " was deleted or moved away") +
                                                    " since this run opened it");
}

std::string Seconds(std::chrono::milliseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(time.count()) / 1000.0);
    return text;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// An engine's message, fit for a terminal: its lines kept (a server's hint
// comes on a line of its own), each escaped, since the engines quote bound
// values (a target's version, a file's name) as they are.
std::string EngineText(const std::string& text) {
    std::string shown, line;
    std::istringstream lines(Trimmed(text));
    while (std::getline(lines, line)) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos) continue;
        shown += (shown.empty() ? "" : "\n  ") + PrintableText(line.substr(start));
    }
    return shown;
}

// The engine's error, or what the watchdog did when it cut the connection.
std::string Why(const Impl& db, const std::exception& error) {
    if (db.watchdog) {
        switch (db.watchdog->Fired()) {
            case StatementWatchdog::Cause::TimedOut:
                return "no answer within " + Seconds(db.watchdog->limit()) +
                       " s (FARSEND_DB_TIMEOUT)";
            case StatementWatchdog::Cause::Abandoned:
                return "no longer waited for: a stop was asked for";
            case StatementWatchdog::Cause::None:
                break;
        }
    }
    return Trimmed(error.what());
}

}  // namespace detail

std::string DefaultSimulatedDatabaseLocation(const char* (*getenv)(const char*)) {
    const std::string real = DefaultDatabaseLocation(getenv);
    if (real.empty()) return "";
    return std::filesystem::path(real).replace_filename("sim-units.sqlite").string();
}

std::string DisplayLocation(const std::string& location) {
    return MaskedDatabaseName(location);
}

UnitDatabase::UnitDatabase(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UnitDatabase::~UnitDatabase() = default;

std::chrono::milliseconds DatabaseOptions::DefaultDatabaseTimeout() {
    constexpr std::chrono::milliseconds kDefault{10000};
    const char* text = std::getenv("FARSEND_DB_TIMEOUT");
    if (text == nullptr || *text == '\0') return kDefault;
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (*end != '\0' || !(seconds > 0) || seconds > 86400) return kDefault;
    return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
}

namespace {

bool HasParameter(const std::string& url, const std::string& name) {
    const std::size_t query = url.find('?');
    if (query == std::string::npos) return false;
    for (std::size_t at = query; at != std::string::npos; at = url.find('&', at + 1)) {
        if (url.compare(at + 1, name.size() + 1, name + "=") == 0) return true;
    }
    return false;
}

// The URL with libpq's time-outs added, unless it sets them itself: a
// server that does not answer the connection, or a network that dropped it,
// is found out instead of waited for.
std::string WithTimeouts(const std::string& url, std::chrono::milliseconds timeout) {
    const long long seconds = std::max<long long>(1, (timeout.count() + 999) / 1000);
    const std::pair<const char*, std::string> parameters[] = {
        {"connect_timeout", std::to_string(seconds)},
        {"keepalives", "1"},
        {"keepalives_idle", std::to_string(seconds)},
        {"keepalives_interval", "1"},
        {"keepalives_count", "3"},
        {"tcp_user_timeout", std::to_string(timeout.count())},
    };
    std::string result = url;
    for (const auto& [name, value] : parameters) {
        if (HasParameter(url, name)) continue;
        result +=
            (result.find('?') == std::string::npos ? "?" : "&") + std::string(name) + "=" + value;
    }
    return result;
}

void OpenPostgreSQL(Impl& impl, const std::string& location, const DatabaseOptions& options) {
    impl.engine = Engine::PostgreSQL;
    OpenPostgreSql(impl.sql, WithTimeouts(location, options.timeout));
    if (std::function<void()> cut = ConnectionCutter(impl.sql)) {
        impl.watchdog =
            std::make_unique<StatementWatchdog>(options.timeout, options.abandon, std::move(cut));
    }
    const StatementWatchdog::Watch watch(impl.watchdog.get());
    // The server's notices (a table that exists already) are no news
    // to a station's operator.
    impl.sql << "SET client_min_messages = warning";
    // A statement held up in a running server (a lock another station
    // holds) ends there; one that gets no answer at all, the watchdog ends.
    impl.sql << "SET statement_timeout = " + std::to_string(options.timeout.count());
    if (options.readOnly) impl.sql << "SET default_transaction_read_only = on";
}

// An SQLite URI that opens the file read-only as one that does not change.
std::string ImmutableUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri + "?mode=ro&immutable=1";
}

// SOCI's SQLite backend builds its table of column types in a function-
// local static the first time a statement describes its columns (every
// soci::row query). The build is thread-safe, but the library's check that
// it is done is not instrumented, so ThreadSanitizer cannot see that a
// second thread's lookup follows the first thread's build and reports a
// race. Describing one column once, here behind our own once-flag, which
// every connection passes before its first query, makes the order visible.
void DescribeOnceForAllConnections(soci::session& sql) {
    static std::once_flag described;
    std::call_once(described, [&sql] {
        soci::row row;
        sql << "SELECT 1 AS one", soci::into(row);
    });
}

void OpenSQLite(Impl& impl, const std::string& location, const DatabaseOptions& options) {
    // SOCI reads the path from a quoted connection parameter, which
    // cannot itself hold a quote.
    if (location.find('"') != std::string::npos) {
        throw UnitDatabaseError(Kind::Unavailable, "cannot open the unit database " + impl.shown +
                                                       ": its path holds a double quote");
    }
    impl.engine = Engine::SQLite;
    impl.file = location;
    if (options.readOnly) {
        impl.sql.open(soci::sqlite3, "db=\"" + location + "\" timeout=30 readonly=1");
        try {
            impl.sql << "SELECT count(*) FROM sqlite_master";
        } catch (const soci::soci_error&) {
            // A write-ahead log's index (-shm) that this user may neither
            // create nor write: read the file as it stands, as a snapshot.
            impl.sql.close();
            impl.sql.open(soci::sqlite3, "db=\"" + ImmutableUri(location) + "\" timeout=30");
        }
    } else {
        const std::filesystem::path path(location);
        std::error_code error;
        const std::filesystem::path folder =
            path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
        if (!std::filesystem::is_directory(folder, error)) {
            if (!options.createFolder) {
                throw UnitDatabaseError(
                    Kind::Unavailable,
                    "cannot open the unit database " + impl.shown + ": the folder " +
                        PrintableText(folder.string()) +
                        " does not exist (a mistyped path?); make it first, or give "
                        "the path of an existing folder");
            }
            CreateFolders(folder, error);
            if (error) {
                throw UnitDatabaseError(Kind::Unavailable,
                                        "cannot create the folder of the unit database " +
                                            impl.shown + ": " + error.message());
            }
        }
        // timeout: seconds that a writer waits for another station's
        // transaction instead of failing.
        impl.sql.open(soci::sqlite3, "db=\"" + location + "\" timeout=30");
    }
    impl.identity = IdentityOf(impl.file);
    DescribeOnceForAllConnections(impl.sql);
    impl.sql << "PRAGMA foreign_keys = ON";
    if (options.readOnly) return;
    // A unit costs two commits. With the rollback journal each one
    // syncs the journal and the database file several times; the
    // write-ahead log syncs once per commit, and with synchronous
    // FULL a committed row still survives a crash or a power cut.
    // Readers (`farsend units`) no longer hold up the stations.
    impl.sql << "PRAGMA journal_mode = WAL";
    impl.sql << "PRAGMA synchronous = FULL";
}

// The version of the schema there, read without writing.
void ReadSchemaVersion(Impl& db) {
    int version = 0;
    soci::indicator versionInd = soci::i_null;
    db.sql << "SELECT max(version) FROM schema_version", soci::into(version, versionInd);
    db.version = versionInd == soci::i_ok ? version : 0;
    if (db.version > kSchemaVersion) {
        throw UnitDatabaseError(Kind::SchemaTooNew,
                                "the unit database " + db.shown + " has schema version " +
                                    std::to_string(db.version) + ", newer than this program's (" +
                                    std::to_string(kSchemaVersion) + "): a newer farsend wrote it");
    }
}

}  // namespace

std::unique_ptr<UnitDatabase> UnitDatabase::Open(const std::string& given,
                                                 const DatabaseOptions& options) {
    auto impl = std::make_unique<Impl>();
    impl->shown = DisplayLocation(given);
    if (given.empty()) throw UnitDatabaseError(Kind::Unavailable, "no unit database given");
    const DatabaseNameResult name = ParseDatabaseName(given);
    if (!name.name) throw UnitDatabaseError(Kind::InvalidArgument, name.error);
    const std::string& location = name.name->location;
    try {
        if (name.name->engine == DatabaseEngine::PostgreSQL) {
            OpenPostgreSQL(*impl, location, options);
        } else {
            OpenSQLite(*impl, location, options);
        }
        const StatementWatchdog::Watch watch(impl->watchdog.get());
        if (options.readOnly) {
            ReadSchemaVersion(*impl);
        } else {
            PrepareSchema(*impl, location);
        }
    } catch (const UnitDatabaseError&) {
        throw;
    } catch (const std::exception& error) {
        throw UnitDatabaseError(Kind::Unavailable,
                                "cannot open the unit database " + impl->shown + ": " +
                                    EngineText(WithoutPasswords(Why(*impl, error), given)));
    }
    return std::unique_ptr<UnitDatabase>(new UnitDatabase(std::move(impl)));
}

Engine UnitDatabase::engine() const {
    return impl_->engine;
}

int UnitDatabase::schemaVersion() const {
    return impl_->version;
}

}  // namespace farsend::units

// What the files of the unit database share: the open session and the
// helpers every statement goes through. Not for use outside src/units.
#pragma once

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "units/file_identity.h"
#include "units/soci.h"
#include "units/statement_watchdog.h"
#include "units/unit_database.h"

namespace farsend::units {

struct UnitDatabase::Impl {
    Engine engine = Engine::SQLite;
    soci::session sql;
    int version = 0;
    std::string shown;  // the location fit for messages
    // SQLite: the file opened, and which file it was.
    std::filesystem::path file;
    std::optional<FileIdentity> identity;
    // PostgreSQL: gone before the session, whose socket it may cut.
    std::unique_ptr<StatementWatchdog> watchdog;
};

namespace detail {

using Kind = UnitDatabaseError::Kind;
using Impl = UnitDatabase::Impl;

// Everything the engines disagree on.
const char* UnitIdColumn(Engine engine);
// SQLite locks the whole file for a writing transaction (BEGIN IMMEDIATE);
// PostgreSQL locks the rows read with FOR UPDATE.
const char* ForUpdate(Engine engine);

// A writing transaction. SQLite's plain BEGIN takes its write lock only at
// the first write, so two processes that both read a pool first would then
// deadlock on upgrading; BEGIN IMMEDIATE takes it at once, and the busy
// timeout makes the other one wait for it instead of failing.
class Transaction {
public:
    explicit Transaction(Impl& db) : sql_(db.sql) {
        sql_ << (db.engine == Engine::SQLite ? "BEGIN IMMEDIATE" : "BEGIN");
    }
    ~Transaction() {
        if (open_) {
            try {
                sql_ << "ROLLBACK";
            } catch (const std::exception&) {
                // The connection is gone; so is the transaction.
            }
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void Commit() {
        sql_ << "COMMIT";
        open_ = false;
    }

private:
    soci::session& sql_;
    bool open_ = true;
};

// Throws when the SQLite file opened is no longer the one at its path.
void CheckSameFile(const Impl& db);
// An engine's message, fit for a terminal.
std::string EngineText(const std::string& text);
// The engine's error, or what the watchdog did when it cut the connection.
std::string Why(const Impl& db, const std::exception& error);

// Runs `work`, turning the engines' errors into Unavailable: to a station,
// a database that refuses a statement is one it cannot record in.
template <typename Work>
auto Guarded(Impl& db, const char* what, Work&& work) -> decltype(work()) {
    CheckSameFile(db);
    const StatementWatchdog::Watch watch(db.watchdog.get());
    try {
        return work();
    } catch (const UnitDatabaseError&) {
        throw;
    } catch (const std::exception& error) {
        throw UnitDatabaseError(Kind::Unavailable, std::string("unit database: ") + what + ": " +
                                                       EngineText(Why(db, error)));
    }
}

// Creates the schema in an empty database, or checks the one there
// (unit_database_schema.cpp).
void PrepareSchema(Impl& db, const std::string& location);
// Takes the next number of the pool NAME, inside the caller's transaction
// (unit_database_pools.cpp).
long long TakeNumber(Impl& db, const std::string& name);

}  // namespace detail
}  // namespace farsend::units

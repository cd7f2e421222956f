// The spool: unit records that could not be written while the database was
// lost, kept as JSON lines in a local file until UnitDatabase::ReplaySpool
// writes them. Each record carries its unit's record id, which is what makes
// a replay idempotent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "units/unit_database.h"

namespace farsend::units {

// Where records wait while the database at `location` is lost: beside an
// SQLite file, "<file>.spool"; for a URL, in the folder of the default
// database, "spool-<16 hex digits of the URL's digest>.jsonl", one spool per
// server and database. "" when neither XDG_DATA_HOME nor HOME says where.
// `getenv` is for tests.
std::filesystem::path SpoolLocationFor(const std::string& location,
                                       const char* (*getenv)(const char*) = nullptr);

// A fresh record id: 32 hexadecimal digits, random.
std::string NewRecordId();

// The record as one JSON object, without a newline.
std::string SpoolLine(const UnitRow& row);
// Nothing when the line is not a record (a torn last line, say).
std::optional<UnitRow> ParseSpoolLine(const std::string& line);

// Appends the record and a newline in one write, so that stations sharing a
// spool do not interleave their lines, and syncs it to the disk: the spool
// holds what the database could not. False with `error` set when it fails.
bool AppendToSpool(const std::filesystem::path& spool, const UnitRow& row, std::string& error);

// The spool's lock, a file beside it (SPOOL.lock), held while a record is
// appended and while a replay reads the spool, writes it into the database
// and empties it: an append from another station or process in between
// would otherwise be emptied away unwritten.
class SpoolLock {
public:
    explicit SpoolLock(const std::filesystem::path& spool);
    ~SpoolLock();
    SpoolLock(const SpoolLock&) = delete;
    SpoolLock& operator=(const SpoolLock&) = delete;
    // False with error() set when the lock file cannot be had.
    bool Held() const { return handle_ != -1; }
    const std::string& error() const { return error_; }

private:
    // The lock file: a descriptor on Linux, a HANDLE on Windows.
    std::intptr_t handle_ = -1;
    std::string error_;
};

}  // namespace farsend::units

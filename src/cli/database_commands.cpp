#include "cli/database_commands.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "cli/database_choice.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "common/printable_text.h"
#include "units/record/unit_json.h"
#include "units/spool.h"
#include "units/spool_replay.h"
#include "units/unit_database.h"

namespace farsend::cli {
namespace {

using units::UnitDatabase;
using units::UnitDatabaseError;

// Columns padded to their widest cell; the last one is not padded. Cells
// hold what targets, files and other PCs wrote: shown escaped, so that one
// unit is one line and nothing in it drives the terminal.
class Table {
public:
    explicit Table(std::vector<std::string> heading) { rows_.push_back(std::move(heading)); }
    void Add(std::vector<std::string> row) {
        for (std::string& cell : row) cell = PrintableText(cell);
        rows_.push_back(std::move(row));
    }
    void Print(std::ostream& out) const {
        std::vector<std::size_t> widths;
        for (const auto& row : rows_) {
            widths.resize(std::max(widths.size(), row.size()));
            for (std::size_t i = 0; i < row.size(); ++i) {
                widths[i] = std::max(widths[i], row[i].size());
            }
        }
        for (const auto& row : rows_) {
            std::string line;
            for (std::size_t i = 0; i < row.size(); ++i) {
                line += row[i];
                if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
            out << line << '\n';
        }
    }

private:
    std::vector<std::vector<std::string>> rows_;
};

std::string Optional(const std::optional<std::int64_t>& value, const char* none) {
    return value ? std::to_string(*value) : none;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

std::string Percent(std::int64_t part, std::int64_t whole) {
    if (whole == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(part) / whole);
    return text;
}

// The database --db names, or the default file; nothing (said why, and
// `status` set) when it cannot be opened. A query (`forQuery`) makes do with
// reading: a database this user may not write (another user's file, a
// read-only mount, a server account that may only select) is still listed,
// without the spool's records, which it says.
std::unique_ptr<UnitDatabase> OpenDatabase(const CliOptions& options, Console& console,
                                           bool forQuery, int& status) {
    status = kExitDatabase;
    const DatabaseChoice choice = ChooseDatabase(options);
    const std::string& location = choice.location;
    if (location.empty()) {
        Complain(console, std::string("no unit database: give --db PATH|URL (") +
                              units::NoDefaultDatabaseReason() + ")");
        return nullptr;
    }
    // A signal while the database is waited for, or its spool replayed,
    // ends the command cleanly; the spool stays whole for the next time.
    CatchInterrupt();
    units::DatabaseOptions access;
    access.createFolder = choice.isDefault;
    access.abandon = [] { return Interrupted(); };
    const std::filesystem::path spool = units::SpoolLocationFor(location);
    std::unique_ptr<UnitDatabase> db;
    try {
        db = UnitDatabase::Open(location, access);
    } catch (const UnitDatabaseError& error) {
        if (Interrupted()) {
            Complain(console, "stopped while waiting for the unit database.");
            status = kExitStopped;
            return nullptr;
        }
        if (!forQuery || error.kind() != UnitDatabaseError::Kind::Unavailable) {
            Complain(console, error.what());
            return nullptr;
        }
        access.readOnly = true;
        try {
            db = UnitDatabase::Open(location, access);
        } catch (const UnitDatabaseError&) {
            Complain(console, error.what());  // the first reason is the one to mend
            return nullptr;
        }
        std::error_code unused;
        if (std::filesystem::exists(spool, unused)) {
            Complain(console, "the unit database " + units::DisplayLocation(location) +
                                  " is read-only here, so the records waiting in the spool " +
                                  spool.string() +
                                  " are not in it yet; they go in at the next "
                                  "start that may write it.");
        }
        return db;
    }
    // Records that program or watch kept while the database was lost go in
    // first, so that what is listed is the whole of it.
    try {
        const units::StartReplay replay = units::ReplaySpoolAtStart(
            *db, spool, [&console](const std::string& line) { Complain(console, line); },
            Interrupted);
        if (const std::string notice = units::ReplayNotice(replay, spool); !notice.empty())
            Complain(console, notice);
        if (replay.stopped) {
            status = kExitStopped;
            return nullptr;
        }
    } catch (const UnitDatabaseError& error) {
        Complain(console, error.what());
        if (Interrupted()) status = kExitStopped;
        return nullptr;
    }
    return db;
}

// Errors of the request itself are the command line's; the rest mean the
// database could not do what it was asked.
int StatusOf(const UnitDatabaseError& error) {
    switch (error.kind()) {
        case UnitDatabaseError::Kind::PoolExists:
        case UnitDatabaseError::Kind::InvalidArgument:
            return kExitUsage;
        default:
            return kExitDatabase;
    }
}

// Rows written before hosts were recorded have none.
std::string HostText(const std::string& host) {
    return host.empty() ? "-" : host;
}

nlohmann::ordered_json PoolJson(const units::PoolInfo& pool) {
    nlohmann::ordered_json object;
    object["name"] = pool.name;
    object["first"] = pool.first;
    object["last"] = pool.last ? nlohmann::ordered_json(*pool.last) : nlohmann::ordered_json();
    object["next"] = pool.next;
    object["issued"] = pool.issued;
    object["returned"] = pool.returned;
    object["remaining"] =
        pool.remaining ? nlohmann::ordered_json(*pool.remaining) : nlohmann::ordered_json();
    return object;
}

}  // namespace

int RunSerials(const CliOptions& options, Console& console) {
    int status = kExitDatabase;
    const std::unique_ptr<UnitDatabase> db =
        OpenDatabase(options, console, !options.serialsInit, status);
    if (!db) return status;
    try {
        if (options.serialsInit) {
            db->CreatePool(options.poolName, *options.first, options.last);
            if (options.json) {
                for (const units::PoolInfo& pool : db->ListPools()) {
                    if (pool.name == options.poolName)
                        console.out << units::DumpJson(PoolJson(pool)) << '\n';
                }
            } else {
                console.out << "pool " << options.poolName << ": numbers from " << *options.first
                            << (options.last ? " to " + std::to_string(*options.last) : "") << "\n";
            }
            return kExitSuccess;
        }
        const std::vector<units::PoolInfo> pools = db->ListPools();
        if (options.json) {
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (const units::PoolInfo& pool : pools) list.push_back(PoolJson(pool));
            console.out << units::DumpJson(nlohmann::ordered_json{{"pools", list}}) << '\n';
            return kExitSuccess;
        }
        if (pools.empty()) {
            console.out << "no number pools (farsend serials init NAME --first N)\n";
            return kExitSuccess;
        }
        Table table({"POOL", "FIRST", "LAST", "NEXT", "ISSUED", "RETURNED", "REMAINING"});
        for (const units::PoolInfo& pool : pools) {
            table.Add({pool.name, std::to_string(pool.first), Optional(pool.last, "-"),
                       std::to_string(pool.next), std::to_string(pool.issued),
                       std::to_string(pool.returned), Optional(pool.remaining, "no end")});
        }
        table.Print(console.out);
        return kExitSuccess;
    } catch (const UnitDatabaseError& error) {
        Complain(console, error.what());
        return StatusOf(error);
    }
}

int RunUnits(const CliOptions& options, Console& console) {
    units::UnitFilter filter;
    if (!options.since.empty()) {
        filter.since = units::ParseUtc(options.since);
        if (!filter.since) {
            Complain(console, "--since " + PrintableText(options.since) +
                                  ": not a time, or outside the years 1678 to 2262 that this "
                                  "program can hold; give 2024-05-01, 2024-05-01T12:00 or "
                                  "2024-05-01T12:00:00Z (UTC)");
            return kExitUsage;
        }
    }
    if (!options.host.empty()) filter.host = options.host;
    if (!options.station.empty()) filter.station = options.station;
    filter.serial = options.unitSerial;
    if (!options.job.empty()) filter.job = options.job;

    int status = kExitDatabase;
    const std::unique_ptr<UnitDatabase> db = OpenDatabase(options, console, true, status);
    if (!db) return status;
    try {
        const std::vector<units::YieldRow> yield = db->Yield(filter);
        if (options.json) {
            // Row by row as they are read: a listing of any length in the
            // memory of one row.
            console.out << "{\"units\":[";
            bool first = true;
            struct Stopped {};
            try {
                db->ForEachUnit(filter, [&](const units::UnitRow& row) {
                    if (Interrupted()) throw Stopped{};
                    console.out << (first ? "" : ",")
                                << units::UnitJsonLine(row, units::UnitJsonForm::Listing);
                    first = false;
                });
            } catch (const Stopped&) {
                console.out << "\n";
                Complain(console, "stopped by a signal; the listing is cut short.");
                return kExitStopped;
            }
            nlohmann::ordered_json hours = nlohmann::ordered_json::array();
            for (const units::YieldRow& hour : yield) {
                hours.push_back({{"host", hour.host},
                                 {"station", hour.station},
                                 {"hour", hour.hour},
                                 {"programmed", hour.programmed},
                                 {"failed", hour.failed},
                                 {"interrupted", hour.interrupted},
                                 {"unfinished", hour.unfinished}});
            }
            console.out << "],\"yield\":" << units::DumpJson(hours) << "}\n";
            return kExitSuccess;
        }
        const std::vector<units::UnitRow> rows = db->ListUnits(filter);
        if (rows.empty()) {
            console.out << "no units recorded"
                        << (options.since.empty() && !filter.host && !filter.station &&
                                    !filter.serial && !filter.job
                                ? ""
                                : " that match")
                        << "\n";
            return kExitSuccess;
        }
        Table table({"ID", "START", "HOST", "STATION", "BRIDGE", "SERIAL", "RESULT", "STATUS",
                     "SECONDS", "VARIANT", "VERSION", "FILE"});
        for (const units::UnitRow& row : rows) {
            std::string serial = Optional(row.serial, "-");
            if (row.numberReturned) serial += " (returned)";
            const bool done = row.finish.has_value();
            // A simulated target's row says so where the eye goes first.
            const std::string result =
                std::string(done ? units::UnitResultName(row.finish->result) : "unfinished") +
                (row.start.simulated ? " (simulated)" : "");
            table.Add({std::to_string(row.id), units::FormatUtc(row.start.start),
                       HostText(row.start.host), row.start.station, row.start.bridgeSerial, serial,
                       result, done ? std::to_string(row.finish->exitStatus) : "-",
                       done ? Seconds(row.finish->seconds) : "-", done ? row.finish->variant : "",
                       done ? row.finish->version : "", row.start.file});
        }
        table.Print(console.out);

        console.out << "\nYield per station (host and location) and hour (UTC):\n";
        Table yieldTable({"HOST", "STATION", "HOUR", "PROGRAMMED", "FAILED", "INTERRUPTED",
                          "UNFINISHED", "YIELD"});
        std::map<std::pair<std::string, std::string>, units::YieldRow> totals;
        for (const units::YieldRow& hour : yield) {
            yieldTable.Add(
                {HostText(hour.host), hour.station, hour.hour + ":00",
                 std::to_string(hour.programmed), std::to_string(hour.failed),
                 std::to_string(hour.interrupted), std::to_string(hour.unfinished),
                 Percent(hour.programmed, hour.programmed + hour.failed + hour.interrupted)});
            units::YieldRow& total = totals[{hour.host, hour.station}];
            total.programmed += hour.programmed;
            total.failed += hour.failed;
            total.interrupted += hour.interrupted;
            total.unfinished += hour.unfinished;
        }
        for (const auto& [where, total] : totals) {
            yieldTable.Add(
                {HostText(where.first), where.second, "all", std::to_string(total.programmed),
                 std::to_string(total.failed), std::to_string(total.interrupted),
                 std::to_string(total.unfinished),
                 Percent(total.programmed, total.programmed + total.failed + total.interrupted)});
        }
        yieldTable.Print(console.out);
        return kExitSuccess;
    } catch (const UnitDatabaseError& error) {
        Complain(console, error.what());
        return StatusOf(error);
    }
}

}  // namespace farsend::cli

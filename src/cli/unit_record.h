// What happened to one target: the result object that --json prints and the
// line that --report appends (one JSON object per line, so a production
// station can keep every unit it has programmed in one file).
#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "common/utc_time.h"

namespace farsend::cli {

struct UnitRecord {
    std::string command;  // "program", "watch", "identify", ...
    int status = 0;       // the exit status this outcome stands for
    std::string message;  // what went wrong, or "" on success
    // What the target reported through its queries ("" when not asked or
    // not answered).
    std::string variant;
    std::string version;
    std::string file;    // firmware file, 8-bit form
    std::string sha256;  // of the file, hexadecimal ("" when unreadable)
    std::uint64_t blocks = 0;
    std::uint64_t bytes = 0;
    double seconds = 0.0;
    // Where it was done: the station's name (its bridge's location, else its
    // device node), the bridge's USB serial number ("" when it has none),
    // and the unit's number in this run, over all stations (0: no unit,
    // as for identify).
    std::string station;
    std::string bridgeSerial;
    std::uint64_t unit = 0;
    // The serial number this unit took from its pool (--serial-pool).
    std::optional<std::int64_t> serial;
    // The PC (its host name, or --host) and whether the target was simulated.
    std::string host;
    bool simulated = false;
    // The production job the unit was programmed under (--job): its name
    // and the SHA-256 of its file; "" for none.
    std::string jobName;
    std::string jobSha256;
};

// {"command", "result", "status", "message", "variant", "version", "file",
// "sha256", "blocks", "bytes", "seconds", "station", "bridge_serial",
// "unit", "serial", "host", "simulated", "job"}; "job" is {"name", "sha256"}, or
// null for a unit programmed under none. "result" is the status's name, except that a unit
// stopped part-way (status 1) is "interrupted"; "serial" is null without one.
nlohmann::ordered_json UnitJson(const UnitRecord& record);

// The report line: the unit's object with "time" (UTC) first, no newline.
std::string ReportLine(const UnitRecord& record, std::chrono::system_clock::time_point when);

// "2024-05-01T12:34:56Z" (whole seconds, UTC), whatever the local time zone.
using farsend::FormatUtc;

// Text for JSON: a path in UTF-8 (Windows keeps paths in the ANSI code
// page), other bytes left as they are.
std::string JsonPathText(const std::string& path);
// Serialises without failing on bytes that are not UTF-8 (Linux file names
// may hold any): they become U+FFFD.
std::string DumpJson(const nlohmann::ordered_json& value);

// Appends `line` and a newline to the report file (created when missing).
// The line goes out in one write, so that lines of several stations sharing
// a file do not interleave. False with `error` set when it fails.
bool AppendReportLine(const std::string& path, const std::string& line, std::string& error);

// Opens the report (created when missing, rw-r--r--) before the first unit
// and keeps it open for the rest of the process: AppendReportLine writes to
// it. A reader at the other end of a FIFO would take a close for the end of
// the report. False with `error` set when it cannot be written.
bool KeepReportOpen(const std::string& path, std::string& error);

}  // namespace farsend::cli

// The one JSON codec of a unit's record. Each field is written and read in
// one place; the four forms differ only in which fields they carry, in
// what order and under which key, as their readers have long had them:
//
//   Result   a command's --json object: "command", "result" (the outcome's
//            word), "status", "message", "variant", "version", "file",
//            "sha256", "blocks", "bytes", "seconds" (to the millisecond),
//            "station", "bridge_serial", "unit", "serial", "host",
//            "simulated", "job" ({"name", "sha256"} of the production job,
//            or null for none).
//   Report   a --report line: "time" (the unit's end, UTC) and then Result.
//   Spool    a spool line: "record_id", "start", "host", "station",
//            "simulated", "bridge_serial", "file", "sha256", "job_name",
//            "job_sha256" (only for a unit under a job), "pool",
//            "serial", "number_returned", and once the unit is finished
//            "end", "variant", "version", "blocks", "bytes", "seconds",
//            "result" (programmed, failed, interrupted), "exit_status",
//            "message".
//   Listing  an object of `units --json`: "id", "start", "end" (null while
//            in hand), "host", "station", "bridge_serial", "simulated",
//            "pool", "serial", "number_returned", "file", "sha256", "job", the
//            finished unit's "variant" to "message" as in Spool but with
//            "status" ("result" null while in hand), and "record_id".
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "units/record/unit_record.h"

namespace farsend::units {

enum class UnitJsonForm { Result, Report, Spool, Listing };

nlohmann::ordered_json UnitToJson(const UnitRecord& record, UnitJsonForm form);
// Nothing when `object` is not a record of that form (a field missing or of
// the wrong type, a time or result that does not parse, an empty record id
// in a spool line).
std::optional<UnitRecord> UnitFromJson(const nlohmann::json& object, UnitJsonForm form);

// The record as one line of the form, without a newline.
std::string UnitJsonLine(const UnitRecord& record, UnitJsonForm form);
// Nothing when the line is not JSON, or not a record of the form.
std::optional<UnitRecord> ParseUnitJsonLine(const std::string& line, UnitJsonForm form);

// Serialises without failing on bytes that are not UTF-8 (Linux file names
// may hold any): they become U+FFFD.
std::string DumpJson(const nlohmann::ordered_json& value);

// Text for JSON: a path in UTF-8 (Windows keeps paths in the ANSI code
// page), other bytes left as they are.
std::string JsonPathText(const std::string& path);

}  // namespace farsend::units

#include "units/record/unit_json.h"

#include <cmath>
#include <initializer_list>

#include "common/utc_time.h"
#include "firmware/platform_paths.h"

namespace farsend::units {
namespace {

using Json = nlohmann::ordered_json;
using Form = UnitJsonForm;

// Seconds rounded to milliseconds, so that results and reports do not carry
// float noise. The spool and the database keep what was measured.
double RoundedSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return 0.0;
    return std::round(seconds * 1000.0) / 1000.0;
}

bool Printed(Form form) {
    return form == Form::Result || form == Form::Report;
}

// A path as the printed forms and the listing carry it; the spool keeps the
// bytes as they were.
std::string PathText(const std::string& path, Form form) {
    return form == Form::Spool ? path : JsonPathText(path);
}

Json Nullable(const std::optional<std::int64_t>& number) {
    return number ? Json(*number) : Json();
}

// Thrown by a reader whose value does not parse; nlohmann's own exceptions
// say the same of a missing key or a wrong type.
struct NotARecord {};

TimePoint TimeOf(const nlohmann::json& value) {
    const std::optional<TimePoint> time = ParseUtc(value.get<std::string>());
    if (!time) throw NotARecord{};
    return *time;
}

// One field: its key, whether it belongs to the unit's end (absent while
// the unit is in hand), how it is written and how it is read back.
struct Field {
    const char* key;
    bool ofFinish;
    Json (*write)(const UnitRecord&, const UnitFinish&, Form);
    void (*read)(const nlohmann::json&, Form, UnitRecord&, UnitFinish&);
};

const Field kFields[] = {
    {"id", false, [](const UnitRecord& r, const UnitFinish&, Form) { return Json(r.id); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.id = v.get<std::int64_t>();
     }},
    {"record_id", false,
     [](const UnitRecord& r, const UnitFinish&, Form) { return Json(r.recordId); },
     [](const nlohmann::json& v, Form form, UnitRecord& r, UnitFinish&) {
         r.recordId = v.get<std::string>();
         if (form == Form::Spool && r.recordId.empty()) throw NotARecord{};
     }},
    {"time", true,
     [](const UnitRecord&, const UnitFinish& f, Form) { return Json(FormatUtc(f.end)); },
     [](const nlohmann::json& v, Form, UnitRecord&, UnitFinish& f) { f.end = TimeOf(v); }},
    {"start", false,
     [](const UnitRecord& r, const UnitFinish&, Form) { return Json(FormatUtc(r.start.start)); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) { r.start.start = TimeOf(v); }},
    {"end", true,
     [](const UnitRecord&, const UnitFinish& f, Form) { return Json(FormatUtc(f.end)); },
     [](const nlohmann::json& v, Form, UnitRecord&, UnitFinish& f) { f.end = TimeOf(v); }},
    {"command", false, [](const UnitRecord& r, const UnitFinish&, Form) { return Json(r.command); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.command = v.get<std::string>();
     }},
    // The printed forms name the station's outcome; the spool and the
    // listing the result the database keeps.
    {"result", true,
     [](const UnitRecord&, const UnitFinish& f, Form form) {
         if (Printed(form) && f.outcome) return Json(UnitOutcomeWord(*f.outcome));
         return Json(UnitResultName(f.result));
     },
     [](const nlohmann::json& v, Form form, UnitRecord&, UnitFinish& f) {
         const std::string word = v.get<std::string>();
         if (Printed(form)) {
             if (const std::optional<UnitOutcome> outcome = ParseUnitOutcomeWord(word)) {
                 f.SetOutcome(*outcome);
                 return;
             }
         }
         const std::optional<UnitResult> result = ParseUnitResult(word);
         if (!result) throw NotARecord{};
         f.result = *result;
     }},
    {"status", true,
     [](const UnitRecord&, const UnitFinish& f, Form) { return Json(f.exitStatus); },
     [](const nlohmann::json& v, Form, UnitRecord&, UnitFinish& f) {
         f.exitStatus = v.get<int>();
     }},
    {"exit_status", true,
     [](const UnitRecord&, const UnitFinish& f, Form) { return Json(f.exitStatus); },
     [](const nlohmann::json& v, Form, UnitRecord&, UnitFinish& f) {
         f.exitStatus = v.get<int>();
     }},
    {"message", true, [](const UnitRecord&, const UnitFinish& f, Form) { return Json(f.message); },
     [](const nlohmann::json& v, Form, UnitRecord&, UnitFinish& f) {
         f.message = v.get<std::string>();
     }},
    {"variant", true, [](const UnitRecord&, const UnitFinish& f, Form) { return Json(f.variant); },
     [](const nlohmann::json& v, Form, UnitRecord&, UnitFinish& f) {
         f.variant = v.get<std::string>();
     }},
    {"version", true, [](const UnitRecord&, const UnitFinish& f, Form) { return Json(f.version); },
     [](const nlohmann::json& v, Form, UnitRecord&, UnitFinish& f) {
         f.version = v.get<std::string>();
     }},
    {"file", false,
     [](const UnitRecord& r, const UnitFinish&, Form form) {
         return Json(PathText(r.start.file, form));
     },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.start.file = v.get<std::string>();
     }},
    {"sha256", false,
     [](const UnitRecord& r, const UnitFinish&, Form) { return Json(r.start.sha256); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.start.sha256 = v.get<std::string>();
     }},
    // The production job: an object {"name", "sha256"}, or null for a unit
    // programmed under none; the spool keeps the two as plain strings.
    {"job", false,
     [](const UnitRecord& r, const UnitFinish&, Form) {
         if (r.start.jobName.empty()) return Json();
         return Json{{"name", r.start.jobName}, {"sha256", r.start.jobSha256}};
     },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         if (v.is_null()) return;
         r.start.jobName = v.at("name").get<std::string>();
         r.start.jobSha256 = v.at("sha256").get<std::string>();
     }},
    {"job_name", false,
     [](const UnitRecord& r, const UnitFinish&, Form) { return Json(r.start.jobName); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.start.jobName = v.get<std::string>();
     }},
    {"job_sha256", false,
     [](const UnitRecord& r, const UnitFinish&, Form) { return Json(r.start.jobSha256); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.start.jobSha256 = v.get<std::string>();
     }},
    {"blocks", true, [](const UnitRecord&, const UnitFinish& f, Form) { return Json(f.blocks); },
     [](const nlohmann::json& v, Form, UnitRecord&, UnitFinish& f) {
         f.blocks = v.get<std::uint64_t>();
     }},
    {"bytes", true, [](const UnitRecord&, const UnitFinish& f, Form) { return Json(f.bytes); },
     [](const nlohmann::json& v, Form, UnitRecord&, UnitFinish& f) {
         f.bytes = v.get<std::uint64_t>();
     }},
    {"seconds", true,
     [](const UnitRecord&, const UnitFinish& f, Form form) {
         return Json(Printed(form) ? RoundedSeconds(f.seconds) : f.seconds);
     },
     [](const nlohmann::json& v, Form, UnitRecord&, UnitFinish& f) {
         f.seconds = v.get<double>();
     }},
    // Only the printed forms carry the station's name as a path; the
    // database's listing has always given it as it is kept.
    {"station", false,
     [](const UnitRecord& r, const UnitFinish&, Form form) {
         return Json(Printed(form) ? JsonPathText(r.start.station) : r.start.station);
     },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.start.station = v.get<std::string>();
     }},
    {"bridge_serial", false,
     [](const UnitRecord& r, const UnitFinish&, Form form) {
         return Json(Printed(form) ? JsonPathText(r.start.bridgeSerial) : r.start.bridgeSerial);
     },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.start.bridgeSerial = v.get<std::string>();
     }},
    {"unit", false, [](const UnitRecord& r, const UnitFinish&, Form) { return Json(r.unit); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.unit = v.get<std::uint64_t>();
     }},
    {"pool", false,
     [](const UnitRecord& r, const UnitFinish&, Form) {
         return r.pool.empty() ? Json() : Json(r.pool);
     },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.pool = v.is_null() ? std::string() : v.get<std::string>();
     }},
    {"serial", false,
     [](const UnitRecord& r, const UnitFinish&, Form) { return Nullable(r.serial); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         if (v.is_null()) {
             r.serial.reset();
         } else {
             r.serial = v.get<std::int64_t>();
         }
     }},
    {"number_returned", false,
     [](const UnitRecord& r, const UnitFinish&, Form) { return Json(r.numberReturned); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.numberReturned = v.get<bool>();
     }},
    {"host", false, [](const UnitRecord& r, const UnitFinish&, Form) { return Json(r.start.host); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.start.host = v.get<std::string>();
     }},
    {"simulated", false,
     [](const UnitRecord& r, const UnitFinish&, Form) { return Json(r.start.simulated); },
     [](const nlohmann::json& v, Form, UnitRecord& r, UnitFinish&) {
         r.start.simulated = v.get<bool>();
     }},
};

const Field& FieldNamed(std::string_view key) {
    for (const Field& field : kFields) {
        if (key == field.key) return field;
    }
    throw std::logic_error("unit record: no field " + std::string(key));
}

using Keys = std::initializer_list<const char*>;

// The fields of each form, in the order its readers have always seen them.
Keys KeysOf(Form form) {
    static const Keys kResult = {
        "command",       "result", "status", "message", "variant",   "version",
        "file",          "sha256", "blocks", "bytes",   "seconds",   "station",
        "bridge_serial", "unit",   "serial", "host",    "simulated", "job"};
    static const Keys kReport = {
        "time", "command", "result", "status",    "message", "variant", "version",
        "file", "sha256",  "blocks", "bytes",     "seconds", "station", "bridge_serial",
        "unit", "serial",  "host",   "simulated", "job"};
    static const Keys kSpool = {"record_id",       "start",         "host",    "station",
                                "simulated",       "bridge_serial", "file",    "sha256",
                                "job_name",        "job_sha256",    "pool",    "serial",
                                "number_returned", "end",           "variant", "version",
                                "blocks",          "bytes",         "seconds", "result",
                                "exit_status",     "message"};
    static const Keys kListing = {"id",      "start",           "end",       "host",
                                  "station", "bridge_serial",   "simulated", "pool",
                                  "serial",  "number_returned", "file",      "sha256",
                                  "job",     "variant",         "version",   "blocks",
                                  "bytes",   "seconds",         "result",    "status",
                                  "message", "record_id"};
    switch (form) {
        case Form::Result:
            return kResult;
        case Form::Report:
            return kReport;
        case Form::Spool:
            return kSpool;
        case Form::Listing:
            return kListing;
    }
    return kResult;
}

// A unit still in hand: the printed forms are only made of finished units
// and give the fields of an empty end; the spool leaves them out; the
// listing says "end" and "result" are not known yet.
enum class WhileInHand { Empty, Omitted, Null };

WhileInHand InHand(Form form) {
    if (Printed(form)) return WhileInHand::Empty;
    return form == Form::Spool ? WhileInHand::Omitted : WhileInHand::Null;
}

bool NullWhileInHand(std::string_view key) {
    return key == "end" || key == "result";
}

// Spools written before PCs were told apart have neither host nor
// simulated; records written before production jobs carry no job.
bool OptionalIn(Form form, std::string_view key) {
    if (key == "job") return true;
    return form == Form::Spool &&
           (key == "host" || key == "simulated" || key == "job_name" || key == "job_sha256");
}

}  // namespace

Json UnitToJson(const UnitRecord& record, UnitJsonForm form) {
    Json object = Json::object();
    const UnitFinish empty;
    const UnitFinish& finish = record.finish ? *record.finish : empty;
    for (const char* key : KeysOf(form)) {
        const Field& field = FieldNamed(key);
        // A spooled unit of no job is written as before jobs were.
        if (form == Form::Spool && record.start.jobName.empty() && OptionalIn(form, key) &&
            std::string_view(key).substr(0, 4) == "job_") {
            continue;
        }
        if (field.ofFinish && !record.finish) {
            const WhileInHand rule = InHand(form);
            if (rule == WhileInHand::Omitted) continue;
            if (rule == WhileInHand::Null) {
                if (NullWhileInHand(key)) object[key] = nullptr;
                continue;
            }
        }
        object[key] = field.write(record, finish, form);
    }
    return object;
}

std::optional<UnitRecord> UnitFromJson(const nlohmann::json& object, UnitJsonForm form) {
    if (!object.is_object()) return std::nullopt;
    UnitRecord record;
    UnitFinish finish;
    // Whether the unit was finished: the spool writes "end" only then, the
    // listing a "result" that is not null.
    bool finished = true;
    if (form == Form::Spool) finished = object.contains("end");
    if (form == Form::Listing) finished = object.contains("result") && !object["result"].is_null();
    try {
        for (const char* key : KeysOf(form)) {
            const Field& field = FieldNamed(key);
            if (field.ofFinish && !finished) continue;
            if (OptionalIn(form, key) && !object.contains(key)) continue;
            field.read(object.at(key), form, record, finish);
        }
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    } catch (const NotARecord&) {
        return std::nullopt;
    }
    if (finished) record.finish = finish;
    return record;
}

std::string UnitJsonLine(const UnitRecord& record, UnitJsonForm form) {
    return DumpJson(UnitToJson(record, form));
}

std::optional<UnitRecord> ParseUnitJsonLine(const std::string& line, UnitJsonForm form) {
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    if (object.is_discarded()) return std::nullopt;
    return UnitFromJson(object, form);
}

std::string DumpJson(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string JsonPathText(const std::string& path) {
#if defined(_WIN32)
    return firmware::NativePath(path).u8string();
#else
    return path;
#endif
}

}  // namespace farsend::units

#include "production/job_file.h"

#include <nlohmann/json.hpp>
#include <set>

#include "common/database_name.h"
#include "common/printable_text.h"
#include "production/encoding.h"
#include "protocol/serial_stamp.h"

namespace farsend::production {
namespace {

using Json = nlohmann::json;  // std::map keeps the keys in byte order

// The first line of the signed bytes: a signature over a job can never pass
// for one over anything else signed with the same key.
constexpr const char* kSignedPrefix = "farsend production job\n";

class FieldError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool IsLowerHex(const std::string& text, std::size_t length) {
    if (text.size() != length) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// Only the fields `known` may be in `object`: one this version does not know
// might narrow what the job allows, and would be ignored.
void OnlyKnown(const Json& object, const std::set<std::string>& known, const std::string& where) {
    for (const auto& item : object.items()) {
        if (known.count(item.key()) == 0) {
            throw FieldError(where + "has a field this farsend does not know: \"" +
                             PrintableText(item.key()) + "\"");
        }
    }
}

const Json& Field(const Json& object, const std::string& name, Json::value_t type, const char* kind,
                  const std::string& where) {
    const auto found = object.find(name);
    if (found == object.end()) throw FieldError(where + "\"" + name + "\" is missing");
    const bool typeOk = found->type() == type || (type == Json::value_t::number_integer &&
                                                  found->type() == Json::value_t::number_unsigned);
    if (!typeOk) throw FieldError(where + "\"" + name + "\" must be " + kind);
    return *found;
}

std::string Text(const Json& object, const std::string& name, const std::string& where = "") {
    return Field(object, name, Json::value_t::string, "a string", where).get<std::string>();
}

void Check(const std::optional<std::string>& problem) {
    if (problem) throw FieldError(*problem);
}

ProductionJob ReadJob(const Json& root) {
    if (!root.is_object()) throw FieldError("a job file holds one JSON object");
    if (Text(root, "format") != "farsend-job") {
        throw FieldError("\"format\" is not \"farsend-job\": not a production job file");
    }
    OnlyKnown(root,
              {"format", "version", "name", "note", "image", "mode", "validate", "serial",
               "database", "unit_limit", "signature"},
              "the job ");
    ProductionJob job;
    job.name = Text(root, "name");
    Check(CheckJobName(job.name));
    job.note = Text(root, "note");

    const Json& image = Field(root, "image", Json::value_t::object, "an object", "");
    OnlyKnown(image, {"name", "sha256", "content"}, "\"image\" ");
    job.image.name = Text(image, "name", "\"image\": ");
    Check(CheckImageName(job.image.name));
    job.image.sha256 = Text(image, "sha256", "\"image\": ");
    if (!IsLowerHex(job.image.sha256, 64)) {
        throw FieldError("\"image\": \"sha256\" must be 64 lower-case hexadecimal digits");
    }
    if (image.contains("content")) {
        job.image.content = FromBase64(Text(image, "content", "\"image\": "));
        if (!job.image.content) throw FieldError("\"image\": \"content\" is not base64");
    }

    const std::string mode = Text(root, "mode");
    if (mode != "application" && mode != "factory") {
        throw FieldError("\"mode\" must be \"application\" or \"factory\"");
    }
    job.factory = mode == "factory";
    job.validate = Field(root, "validate", Json::value_t::boolean, "true or false", "").get<bool>();

    const Json& serial = root.contains("serial") ? root.at("serial") : Json();
    if (!serial.is_null()) {
        if (!serial.is_object()) throw FieldError("\"serial\" must be an object or null");
        OnlyKnown(serial, {"spec", "pool"}, "\"serial\" ");
        JobSerial settings{Text(serial, "spec", "\"serial\": "),
                           Text(serial, "pool", "\"serial\": ")};
        const protocol::SerialSpecResult spec = protocol::ParseSerialSpec(settings.spec);
        if (!spec.ok()) throw FieldError("\"serial\": \"spec\": " + spec.error);
        if (settings.pool.empty()) throw FieldError("\"serial\": \"pool\" is empty");
        job.serial = settings;
    }
    job.database = Text(root, "database");
    Check(CheckJobDatabase(job.database));

    const Json& limit = root.contains("unit_limit") ? root.at("unit_limit") : Json();
    if (!limit.is_null()) {
        if (!limit.is_number_integer() || limit.get<std::int64_t>() < 1) {
            throw FieldError("\"unit_limit\" must be a whole number from 1, or null");
        }
        job.unitLimit = limit.get<std::int64_t>();
    }

    const Json& signature = root.contains("signature") ? root.at("signature") : Json();
    if (!signature.is_null()) {
        if (!signature.is_object()) throw FieldError("\"signature\" must be an object or null");
        OnlyKnown(signature, {"key_id", "ed25519"}, "\"signature\" ");
        JobSignature signed_;
        signed_.keyId = Text(signature, "key_id", "\"signature\": ");
        if (!IsLowerHex(signed_.keyId, 16)) {
            throw FieldError("\"signature\": \"key_id\" must be 16 lower-case hexadecimal digits");
        }
        const auto bytes = FromBase64(Text(signature, "ed25519", "\"signature\": "));
        if (!bytes) throw FieldError("\"signature\": \"ed25519\" is not base64");
        signed_.signature = *bytes;
        job.signature = signed_;
    }
    return job;
}

Json Unsigned(const ProductionJob& job) {
    Json root = Json::object();
    root["format"] = "farsend-job";
    root["version"] = kJobFormatVersion;
    root["name"] = job.name;
    root["note"] = job.note;
    Json image = {{"name", job.image.name}, {"sha256", job.image.sha256}};
    if (job.image.content) image["content"] = ToBase64(*job.image.content);
    root["image"] = image;
    root["mode"] = job.factory ? "factory" : "application";
    root["validate"] = job.validate;
    root["serial"] =
        job.serial ? Json{{"spec", job.serial->spec}, {"pool", job.serial->pool}} : Json();
    root["database"] = job.database;
    root["unit_limit"] = job.unitLimit ? Json(*job.unitLimit) : Json();
    return root;
}

}  // namespace

std::optional<std::string> CheckJobName(const std::string& name) {
    if (name.empty() || name.size() > 200 || PrintableText(name) != name) {
        return "the job's name must be 1 to 200 characters without control characters";
    }
    return std::nullopt;
}

std::optional<std::string> CheckImageName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("/\\:") != std::string::npos || PrintableText(name) != name) {
        return "the image's name must be a file's name without folders";
    }
    return std::nullopt;
}

std::optional<std::string> CheckJobDatabase(const std::string& database) {
    if (database.empty()) return std::nullopt;
    const DatabaseNameResult parsed = ParseDatabaseName(database);
    if (!parsed.name || parsed.name->engine != DatabaseEngine::PostgreSQL) {
        return "the job's database must be a postgresql:// URL, or \"\" for the default file";
    }
    if (MaskedDatabaseName(database) != database) {
        return "the job's database URL holds a password (" + MaskedDatabaseName(database) +
               "): a job file is passed around, so the password comes from libpq's password "
               "file (~/.pgpass) or PGPASSWORD instead";
    }
    return std::nullopt;
}

JobParseResult ParseJob(const std::string& text) {
    JobParseResult result;
    const Json root = Json::parse(text, nullptr, false);
    if (root.is_discarded()) {
        result.error = "it is not JSON";
        return result;
    }
    // The version first: a newer job is refused as such, whatever else it holds.
    if (root.is_object() && root.contains("version")) {
        const Json& version = root.at("version");
        if (!version.is_number_integer() || version.get<std::int64_t>() < 1) {
            result.error = "\"version\" must be a whole number from 1";
            return result;
        }
        if (version.get<std::int64_t>() > kJobFormatVersion) {
            result.tooNew = true;
            result.error = "its format version " + std::to_string(version.get<std::int64_t>()) +
                           " is newer than this farsend reads (" +
                           std::to_string(kJobFormatVersion) + "): use a newer farsend";
            return result;
        }
    } else if (root.is_object()) {
        result.error = "\"version\" is missing";
        return result;
    }
    try {
        result.job = ReadJob(root);
    } catch (const FieldError& error) {
        result.error = error.what();
    } catch (const Json::exception& error) {
        result.error = error.what();
    }
    return result;
}

std::string JobFileText(const ProductionJob& job) {
    Json root = Unsigned(job);
    root["signature"] = job.signature ? Json{{"key_id", job.signature->keyId},
                                             {"ed25519", ToBase64(job.signature->signature)}}
                                      : Json();
    return root.dump(2) + "\n";
}

std::string SignedText(const ProductionJob& job) {
    return kSignedPrefix + Unsigned(job).dump();
}

}  // namespace farsend::production

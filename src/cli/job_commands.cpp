#include "cli/job_commands.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/exit_status.h"
#include "cli/job_gate.h"
#include "common/printable_text.h"
#include "production/encoding.h"
#include "production/job_keys.h"
#include "protocol/serial_stamp.h"
#include "units/job_tables.h"
#include "units/record/unit_json.h"

namespace farsend::cli {
namespace {

using production::ProductionJob;

std::optional<std::string> ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

int NewJob(const CliOptions& options, Console& console) {
    ProductionJob job;
    job.name = options.argument;
    job.note = options.note;
    if (auto problem = production::CheckJobName(job.name)) {
        Complain(console, "job new: " + *problem);
        return kExitUsage;
    }
    const std::optional<std::string> image = ReadWhole(options.file);
    if (!image) {
        Complain(console, "job new: cannot read the image " + PrintableText(options.file));
        return kExitFirmwareFile;
    }
    job.image.name = std::filesystem::path(options.file).filename().string();
    if (auto problem = production::CheckImageName(job.image.name)) {
        Complain(console, "job new: " + *problem);
        return kExitUsage;
    }
    job.image.sha256 = production::Sha256Hex(*image);
    if (options.embed) job.image.content = std::vector<std::uint8_t>(image->begin(), image->end());
    job.factory = options.factory;
    job.validate = !options.noValidate;
    if (options.serial) {
        job.serial =
            production::JobSerial{protocol::SerialSpecText(*options.serial), options.serialPool};
    }
    job.database = options.db;
    if (auto problem = production::CheckJobDatabase(job.database)) {
        Complain(console, "job new: --db: " + *problem);
        return kExitUsage;
    }
    job.unitLimit = options.limit;
    std::string text;
    try {
        text = production::JobFileText(job);
    } catch (const nlohmann::json::exception&) {
        Complain(console, "job new: the name, the note and the image's name must be UTF-8 text");
        return kExitUsage;
    }
    console.out << text;
    return kExitSuccess;
}

// Replaces the job file by way of a new file beside it: a reader never
// sees half a job, and a failed write leaves the old one.
bool WriteJobFile(const std::string& path, const std::string& text, std::string& error) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            error = "cannot write " + PrintableText(temporary);
            std::remove(temporary.c_str());
            return false;
        }
    }
    // std::filesystem's rename replaces the old file on Windows too, where
    // the C library's refuses a name that exists.
    std::error_code failed;
    std::filesystem::rename(temporary, path, failed);
    if (failed) {
        error = "cannot replace " + PrintableText(path) + ": " + failed.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

int SignJobFile(const CliOptions& options, Console& console) {
    std::string error;
    std::optional<LoadedJob> loaded = LoadJob(options.argument, error);
    if (!loaded) {
        Complain(console, "job sign: " + error);
        return kExitJobRefused;
    }
    if (!production::SignJob(loaded->job, options.key, error) ||
        !WriteJobFile(options.argument, production::JobFileText(loaded->job), error)) {
        Complain(console, "job sign: " + error);
        return kExitUsage;
    }
    if (!options.quiet) {
        console.out << "signed " << PrintableText(options.argument) << " with the key "
                    << loaded->job.signature->keyId << "\n";
    }
    return kExitSuccess;
}

nlohmann::ordered_json JobJson(const LoadedJob& loaded) {
    const ProductionJob& job = loaded.job;
    nlohmann::ordered_json object;
    object["name"] = job.name;
    object["note"] = job.note;
    object["sha256"] = loaded.sha256;
    object["image"] = {{"name", job.image.name},
                       {"sha256", job.image.sha256},
                       {"embedded", job.image.content.has_value()}};
    object["mode"] = job.factory ? "factory" : "application";
    object["validate"] = job.validate;
    object["serial"] =
        job.serial ? nlohmann::ordered_json{{"spec", job.serial->spec}, {"pool", job.serial->pool}}
                   : nlohmann::ordered_json();
    object["database"] = job.database;
    object["unit_limit"] =
        job.unitLimit ? nlohmann::ordered_json(*job.unitLimit) : nlohmann::ordered_json();
    object["key_id"] =
        job.signature ? nlohmann::ordered_json(job.signature->keyId) : nlohmann::ordered_json();
    return object;
}

int ShowJob(const CliOptions& options, Console& console) {
    std::string error;
    const std::optional<LoadedJob> loaded = LoadJob(options.argument, error);
    if (!loaded) {
        Complain(console, "job show: " + error);
        return kExitJobRefused;
    }
    if (options.json) {
        console.out << units::DumpJson(JobJson(*loaded)) << "\n";
        return kExitSuccess;
    }
    const ProductionJob& job = loaded->job;
    console.out << "job:        " << PrintableText(job.name) << "\n"
                << "note:       " << PrintableText(job.note) << "\n"
                << "file:       sha256 " << loaded->sha256 << "\n"
                << "image:      " << PrintableText(job.image.name)
                << (job.image.content ? " (embedded)" : "") << ", sha256 " << job.image.sha256
                << "\n"
                << "mode:       " << (job.factory ? "factory" : "application")
                << (job.validate ? ", validated" : ", not validated") << "\n"
                << "serial:     "
                << (job.serial ? job.serial->spec + " from the pool " + job.serial->pool : "none")
                << "\n"
                << "database:   " << (job.database.empty() ? "the default file" : job.database)
                << "\n"
                << "unit limit: "
                << (job.unitLimit ? std::to_string(*job.unitLimit) : std::string("none")) << "\n"
                << "signed:     "
                << (job.signature ? "by the key " + job.signature->keyId +
                                        " (not checked here: farsend job verify checks it)"
                                  : std::string("no"))
                << "\n";
    return kExitSuccess;
}

// Everything a run would check, and nothing sent.
int VerifyJob(const CliOptions& options, Console& console) {
    CliOptions checked = options;
    checked.job = options.argument;
    JobHold hold;
    const int status = ApplyJob(checked, console, hold);
    if (status != kExitSuccess) return status;
    if (!options.quiet) {
        console.out << "the job " << PrintableText(checked.jobName)
                    << " can be run: its image is the one it names";
        std::string error;
        const std::optional<LoadedJob> loaded = LoadJob(options.argument, error);
        if (loaded && loaded->job.signature) {
            console.out << ", and its signature by the trusted key " << loaded->job.signature->keyId
                        << " holds";
        }
        console.out << ".\n";
    }
    return kExitSuccess;
}

}  // namespace

int RunJob(const CliOptions& options, Console& console) {
    if (options.action == "new") return NewJob(options, console);
    if (options.action == "sign") return SignJobFile(options, console);
    if (options.action == "show") return ShowJob(options, console);
    return VerifyJob(options, console);
}

}  // namespace farsend::cli

#include "cli/job_gate.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/database_choice.h"
#include "cli/exit_status.h"
#include "cli/sha256.h"
#include "common/printable_text.h"
#include "common/private_files.h"
#include "production/encoding.h"
#include "production/job_keys.h"
#include "units/job_tables.h"
#include "units/trusted_keys.h"

namespace farsend::cli {
namespace {

int Refused(Console& console, const std::string& job, const std::string& why) {
    Complain(console, "the job " + PrintableText(job) + " is refused: " + why +
                          ". Nothing was sent to any target.");
    return kExitJobRefused;
}

// The image's path once its bytes are known to be the job's; nothing, with
// `why` set, when they are not.
std::optional<std::string> PlaceImage(const production::ProductionJob& job,
                                      const std::string& jobPath, const CliOptions& options,
                                      JobHold& hold, std::string& why) {
    const production::JobImage& image = job.image;
    if (image.content) {
        const std::string_view bytes(reinterpret_cast<const char*>(image.content->data()),
                                     image.content->size());
        if (production::Sha256Hex(bytes) != image.sha256) {
            why = "its embedded image " + image.name + " differs from the image's SHA-256";
            return std::nullopt;
        }
        std::string error;
        const std::optional<std::filesystem::path> folder = MakePrivateFolder(error);
        if (!folder) {
            why = "its embedded image has nowhere to go: " + error;
            return std::nullopt;
        }
        hold.extracted = *folder;
        const std::filesystem::path path = *folder / image.name;
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            why = "its embedded image cannot be written to " + path.string();
            return std::nullopt;
        }
        return path.string();
    }
    // Beside the job file, unless --dir says where the line keeps its images.
    const std::filesystem::path folder = !options.dir.empty()
                                             ? std::filesystem::path(options.dir)
                                             : std::filesystem::path(jobPath).parent_path();
    const std::filesystem::path path = folder / image.name;
    const std::optional<std::string> digest = Sha256OfFile(path.string());
    if (!digest) {
        why = "its image " + PrintableText(path.string()) + " is not found or cannot be read";
        return std::nullopt;
    }
    if (*digest != image.sha256) {
        why = "its image " + PrintableText(path.string()) +
              " differs from the job's SHA-256 (it has " + *digest + ")";
        return std::nullopt;
    }
    return path.string();
}

}  // namespace

JobHold::~JobHold() {
    if (extracted.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(extracted, ignored);
}

std::optional<LoadedJob> LoadJob(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + PrintableText(path);
        return std::nullopt;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + PrintableText(path);
        return std::nullopt;
    }
    production::JobParseResult parsed = production::ParseJob(text);
    if (!parsed.job) {
        error = PrintableText(path) + " is not a job this farsend can use: " + parsed.error;
        return std::nullopt;
    }
    return LoadedJob{std::move(*parsed.job), production::Sha256Hex(text)};
}

std::optional<std::string> TrustRefusal(units::UnitDatabase& db,
                                        const production::ProductionJob& job, std::string& notice) {
    const std::vector<units::TrustedKey> keys = units::ListKeys(db);
    if (!job.signature) {
        if (!keys.empty()) {
            return "it is not signed, and this line's unit database trusts signing keys "
                   "(farsend job sign --key KEYFILE signs it)";
        }
        notice =
            "the job is not signed: nothing stops it being changed. Trusting a key "
            "(farsend keys trust) makes every station refuse unsigned jobs.";
        return std::nullopt;
    }
    const std::string& id = job.signature->keyId;
    for (const units::TrustedKey& trusted : keys) {
        if (trusted.id != id) continue;
        if (trusted.revoked) {
            return "it is signed by the key " + id + ", which was revoked on " +
                   FormatUtc(*trusted.revoked);
        }
        std::string error;
        const std::optional<production::PublicKey> key =
            production::ParsePublicKey(trusted.publicKey, error);
        if (!key) return "the trusted key " + id + " in the unit database is damaged: " + error;
        if (!production::SignatureHolds(job, *key)) {
            return "its signature by the key " + id +
                   " does not hold: the job was changed after it was signed, or the signature "
                   "is damaged";
        }
        return std::nullopt;
    }
    return "it is signed by the key " + id +
           ", which this line's unit database does not trust (farsend keys trust PUBFILE)";
}

int ApplyJob(CliOptions& options, Console& console, JobHold& hold) {
    std::string error;
    const std::optional<LoadedJob> loaded = LoadJob(options.job, error);
    if (!loaded) {
        Complain(console, error + ". Nothing was sent to any target.");
        return kExitJobRefused;
    }
    const production::ProductionJob& job = loaded->job;

    options.db = job.database;
    const DatabaseChoice choice = ChooseDatabase(options);
    std::unique_ptr<units::UnitDatabase> db;
    try {
        units::DatabaseOptions open;
        open.createFolder = choice.isDefault;
        db = units::UnitDatabase::Open(choice.location, open);
        std::string notice;
        if (const auto refusal = TrustRefusal(*db, job, notice)) {
            return Refused(console, options.job, *refusal);
        }
        if (!notice.empty()) Complain(console, notice);  // even with --quiet: it is a warning
        if (job.unitLimit && units::JobUnitsStarted(*db, loaded->sha256) >= *job.unitLimit) {
            return Refused(
                console, options.job,
                "it has reached its limit of " + std::to_string(*job.unitLimit) + " units");
        }
    } catch (const units::UnitDatabaseError& failure) {
        Complain(console,
                 std::string(failure.what()) +
                     "\nThe job's keys cannot be checked. Nothing was sent to any target.");
        return kExitDatabase;
    }

    std::string why;
    const std::optional<std::string> image = PlaceImage(job, options.job, options, hold, why);
    if (!image) return Refused(console, options.job, why);

    options.file = *image;
    options.factory = job.factory;
    options.noValidate = !job.validate;
    if (job.serial) {
        options.serial = protocol::ParseSerialSpec(job.serial->spec).spec;
        options.serialPool = job.serial->pool;
    }
    options.jobName = job.name;
    options.jobSha256 = loaded->sha256;
    options.jobImageSha256 = job.image.sha256;
    options.jobUnitLimit = job.unitLimit;
    return kExitSuccess;
}

}  // namespace farsend::cli

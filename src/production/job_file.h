// A production job: one file that fixes what a station programs (the image
// and its digest, the mode, validation, the serial numbers, the database and
// a limit on the units), signed so that an operator cannot change it.
// docs/production-jobs.md describes the format field by field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace farsend::production {

// The format this program reads and writes. A job of a higher version was
// made by a newer farsend: it is refused, since a field this one does not
// know could narrow what the job allows.
constexpr int kJobFormatVersion = 1;

struct JobImage {
    std::string name;    // the firmware file's name, without folders
    std::string sha256;  // of its content, 64 lower-case hexadecimal digits
    // The content itself, when the job carries it; else the file is looked
    // for by name.
    std::optional<std::vector<std::uint8_t>> content;
};

struct JobSerial {
    std::string spec;  // ADDR:SIZE:FORMAT, as --serial takes it
    std::string pool;  // as --serial-pool takes it
};

struct JobSignature {
    std::string keyId;                    // 16 lower-case hexadecimal digits
    std::vector<std::uint8_t> signature;  // Ed25519, 64 bytes when well formed
};

struct ProductionJob {
    std::string name;
    std::string note;
    JobImage image;
    bool factory = false;  // "mode": "factory", else "application"
    bool validate = true;
    std::optional<JobSerial> serial;
    std::string database;  // a postgresql:// URL without a password; "": the default file
    std::optional<std::int64_t> unitLimit;
    std::optional<JobSignature> signature;
};

struct JobParseResult {
    std::optional<ProductionJob> job;
    std::string error;    // when there is no job: what is wrong, without the file's name
    bool tooNew = false;  // its version is above kJobFormatVersion
};

// Reads a job file's text. Every field is checked: a field this version
// does not know, a missing one or one of the wrong kind is an error.
JobParseResult ParseJob(const std::string& text);

// The job as its file holds it: pretty-printed JSON and a newline.
std::string JobFileText(const ProductionJob& job);

// The bytes the signature covers: every field but the signature, as compact
// JSON with the keys in byte order, after a line that names what they are.
std::string SignedText(const ProductionJob& job);

// What is wrong with a field's value, or nothing. Shared by the parser and by
// `job new`, so that no job is written that could not be read back.
std::optional<std::string> CheckJobName(const std::string& name);
std::optional<std::string> CheckImageName(const std::string& name);
std::optional<std::string> CheckJobDatabase(const std::string& database);

}  // namespace farsend::production

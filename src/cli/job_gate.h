// program and watch with --job FILE: the job is read and checked before any
// target is touched (its image, its signature against the keys the unit
// database trusts, its unit limit), and then fixes the run: its image, mode,
// validation, serial numbers and database replace what the command line
// could have said (cli_options refuses those options next to --job).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "cli/console.h"
#include "production/job_file.h"
#include "units/unit_database.h"

namespace farsend::cli {

// What a checked job leaves behind: a folder holding the embedded image,
// removed when the run is over.
class JobHold {
public:
    JobHold() = default;
    ~JobHold();
    JobHold(const JobHold&) = delete;
    JobHold& operator=(const JobHold&) = delete;

    std::filesystem::path extracted;  // empty: none
};

// Reads the job file at `path`: the job and the SHA-256 of the file's bytes.
// Nothing, with `error` set, when it cannot be read or parsed.
struct LoadedJob {
    production::ProductionJob job;
    std::string sha256;
};
std::optional<LoadedJob> LoadJob(const std::string& path, std::string& error);

// Why the database's trusted keys refuse `job`, or nothing when they accept
// it. `notice` gets what the operator should hear even so (an unsigned job
// on a line that trusts no key yet).
std::optional<std::string> TrustRefusal(units::UnitDatabase& db,
                                        const production::ProductionJob& job, std::string& notice);

// Checks the job of options.job and fills the options from it. kExitSuccess
// when the run may go on; else the status, its message already told.
int ApplyJob(CliOptions& options, Console& console, JobHold& hold);

}  // namespace farsend::cli

#include "evidence/serial_crash_campaign.h"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>

#include "evidence/child_process.h"
#include "sim/fault_rng.h"
#include "sim/sample_firmware.h"
#include "units/spool.h"
#include "units/unit_database.h"

namespace farsend::evidence {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPool = "crash";
constexpr int64_t kFirstNumber = 1000;

// 8 KB from 0x4000, the number's place in its first block.
std::vector<sim::ImageRun> CampaignImage() {
    sim::ImageRun run;
    run.address = 0x4000;
    for (int i = 0; i < 8192; ++i) run.data.push_back(static_cast<uint8_t>(i * 13 + (i >> 7)));
    return {run};
}

// 16 bytes at 0x4000: short of the number's place.
std::vector<sim::ImageRun> SwapImage() {
    return {sim::ImageRun{0x4000, std::vector<uint8_t>(16, 0xA5)}};
}

// Replaces `target` by a copy of `source` in one rename, as `mv` would.
void ReplaceFile(const fs::path& source, const fs::path& target) {
    const fs::path next = target.string() + ".next";
    std::error_code ignored;
    fs::copy_file(source, next, fs::copy_options::overwrite_existing, ignored);
    fs::rename(next, target, ignored);
}

std::string MakeWorkDirectory(const CrashCampaignOptions& options) {
    fs::path dir = options.directory.empty()
                       ? fs::temp_directory_path() / ("farsend-serial-crash-" +
                                                      std::to_string(static_cast<long>(::getpid())))
                       : fs::path(options.directory);
    std::error_code failure;
    fs::remove_all(dir, failure);
    fs::create_directories(dir / "firmware", failure);
    if (failure) return "";
    return dir.string();
}

std::string LastLine(const std::string& text) {
    size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
}

}  // namespace

CrashCampaignResult RunSerialCrashCampaign(const CrashCampaignOptions& options,
                                           const std::function<void(uint32_t)>& progress) {
    CrashCampaignResult result;
    result.workDirectory = MakeWorkDirectory(options);
    if (result.workDirectory.empty()) return result;
    const fs::path work(result.workDirectory);
    const std::string image = (work / "firmware" / "Farsend_15_bt.hex").string();
    const std::string database = (work / "units.sqlite").string();
    const std::string flashes = (work / "flash").string();
    const fs::path original = work / "original.hex", swapped = work / "swap.hex";
    const std::optional<SerialPlace> place = ParseSerialPlace(options.place);
    std::string error;
    if (!place) {
        result.setupError = "cannot read the number's place " + options.place;
    } else if (!sim::WriteImageFile(image, CampaignImage(), &error) ||
               !sim::WriteImageFile(original, CampaignImage(), &error) ||
               !sim::WriteImageFile(swapped, SwapImage(), &error)) {
        result.setupError = "cannot write the images: " + error;
    }
    if (!result.setupError.empty()) return result;

    // The runs start in the work directory: a relative path would not find it.
    const std::string farsend = fs::absolute(options.farsend).string();
    const ChildResult init = RunChild(
        farsend,
        {"serials", "init", kPool, "--first", std::to_string(kFirstNumber), "--db", database},
        result.workDirectory, std::chrono::seconds(60));
    if (init.end != ChildEnd::Exited || init.exitStatus != 0) {
        result.setupError = "serials init failed (" + farsend + ", status " +
                            std::to_string(init.exitStatus) + "): " + init.err;
        return result;
    }

    const std::vector<std::string> words = {"--simulate",
                                            "--sim-real-time",
                                            "--sim-baud=" + std::to_string(options.baud),
                                            "--sim-bridges=" + std::to_string(options.bridges),
                                            "--sim-targets=100000",
                                            "--sim-flash-dir=" + flashes,
                                            "watch",
                                            "--all",
                                            "--quiet",
                                            "--serial",
                                            options.place,
                                            "--serial-pool",
                                            kPool,
                                            "--db",
                                            database,
                                            image};
    sim::FaultRng random(options.seed);
    // Its own sequence, so that the kills of a seed stay where they were.
    sim::FaultRng deletions(options.seed ^ 0x5bd1e995u);
    const uint32_t span = static_cast<uint32_t>((options.latest - options.earliest).count()) + 1;
    for (uint32_t run = 1; run <= options.kills; ++run) {
        const std::chrono::milliseconds delay =
            options.earliest + std::chrono::milliseconds(random.Below(span));
        MidRunAction swap;
        if (options.swapOneIn > 0 && random.Below(options.swapOneIn) == 0 &&
            delay > options.earliestSwap) {
            const auto window = static_cast<uint32_t>(
                (std::min(delay, options.latestSwap) - options.earliestSwap).count());
            swap.at = options.earliestSwap + std::chrono::milliseconds(random.Below(window));
            swap.act = [&] { ReplaceFile(swapped, image); };
            ++result.swaps;
        }
        // The database deletion: the file and its log moved away mid-run (to
        // the run, as gone as after `rm units.sqlite*`), and put back after
        // it, as a backup would be, in place of anything made there meanwhile.
        // Drawn in every run, so that the kill moments stay those of the seed;
        // a run with a file swap has none, so that each event is judged alone.
        const bool deletionDrawn =
            options.deletionEvery > 0 && deletions.Below(options.deletionEvery) == 0;
        const bool deleted = deletionDrawn && !swap.act;
        const std::string away = database + ".away";
        static const char* const kParts[] = {"", "-wal", "-shm"};
        MidRunAction deletion;
        if (deleted) {
            deletion.at = std::chrono::milliseconds(
                deletions.Below(static_cast<uint32_t>(delay.count()) + 1));
            deletion.act = [&] {
                std::error_code ignored;
                for (const char* part : kParts) fs::rename(database + part, away + part, ignored);
            };
        }
        const ChildResult child =
            RunChild(farsend, words, result.workDirectory, delay, swap.act ? swap : deletion);
        if (swap.act) {
            ReplaceFile(original, image);
            if (child.err.find("changed on disk during the run") != std::string::npos) {
                ++result.swapsTold;
            }
        }
        if (deleted) {
            ++result.deletions;
            std::error_code ignored;
            for (const char* part : kParts) {
                fs::remove(database + part, ignored);
                fs::rename(away + part, database + part, ignored);
            }
        }
        const bool refusedSwap = swap.act && child.end == ChildEnd::Exited &&
                                 child.exitStatus == 4 &&
                                 child.err.find("Nothing was sent") != std::string::npos;
        if (child.end == ChildEnd::TimedOut) {
            ++result.killed;
        } else if (refusedSwap) {
            ++result.swapsBeforeRead;
        } else if (deleted && child.end == ChildEnd::Exited && child.exitStatus == 9) {
            // Its stations refused units for want of a number: as documented.
            ++result.refusedAfterDeletion;
        } else {
            std::string how = child.end == ChildEnd::Exited
                                  ? "exited with status " + std::to_string(child.exitStatus)
                              : child.end == ChildEnd::Signalled
                                  ? "ended on signal " + std::to_string(child.signal)
                                  : std::string("did not start");
            result.runDefects.push_back("run " + std::to_string(run) + " (kill after " +
                                        std::to_string(delay.count()) + " ms) " + how + ": " +
                                        LastLine(child.err));
        }
        if (progress) progress(run);
    }

    try {
        auto db = units::UnitDatabase::Open(database);
        // What the last runs kept in the spool goes in, as the next start
        // would put it.
        db->ReplaySpool(units::SpoolLocationFor(database));
        const std::vector<units::UnitRow> rows = db->ListUnits();
        std::string unreadable;
        const std::map<std::string, ByteMap> flashed = ReadFlashFolder(flashes, unreadable);
        std::string imageError;
        const std::optional<ByteMap> imageBytes = ReadByteMap(image, imageError);
        if (!imageBytes) {
            result.setupError = imageError;
            return result;
        }
        result.verdict = JudgeSerialRuns(rows, flashed, *imageBytes, *place);
        if (!unreadable.empty()) result.verdict.violations.push_back(unreadable);
        for (const units::PoolInfo& pool : db->ListPools()) {
            if (pool.name != kPool) continue;
            if (pool.issued != static_cast<int64_t>(result.verdict.numbers.size())) {
                result.poolProblem = "the pool says " + std::to_string(pool.issued) +
                                     " numbers are issued, the rows keep " +
                                     std::to_string(result.verdict.numbers.size());
            }
        }
    } catch (const std::exception& failure) {
        result.setupError = std::string("cannot read the unit database: ") + failure.what();
    }
    if (!options.keep && result.Clean()) fs::remove_all(work);
    return result;
}

void PrintCrashReport(std::ostream& out, const CrashCampaignOptions& options,
                      const CrashCampaignResult& result) {
    const SerialVerdict& v = result.verdict;
    out << "serial crash campaign: " << options.kills << " runs, seed " << options.seed << ", "
        << options.bridges << " stations, " << options.baud << " baud, kills after "
        << options.earliest.count() << " to " << options.latest.count() << " ms, a file swap in "
        << options.swapOneIn << " runs\n";
    if (options.deletionEvery > 0) {
        out << "database deletions: " << result.deletions << " (1 run in about "
            << options.deletionEvery << "), " << result.refusedAfterDeletion
            << " runs ended by their stations' refusals after one (status 9)\n";
    }
    if (!result.setupError.empty()) {
        out << "could not run: " << result.setupError << "\n";
        return;
    }
    out << "| runs | killed | other ends | unit rows | programmed | unfinished | numbers "
           "given back | flashes | flashes with a number | violations |\n"
        << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n"
        << "| " << options.kills << " | " << result.killed << " | " << result.runDefects.size()
        << " | " << v.rows << " | " << v.programmedRows << " | " << v.unfinishedRows << " | "
        << v.returnedRows << " | " << v.flashes << " | " << v.flashesWithNumber << " | "
        << v.violations.size() + (result.poolProblem.empty() ? 0 : 1) << " |\n";
    out << "file swaps: " << result.swaps << " (told by the run in " << result.swapsTold
        << "; read at the run's start and refused: " << result.swapsBeforeRead << ")\n";
    if (!v.numbers.empty()) {
        out << "numbers kept: " << v.numbers.size() << ", " << v.numbers.front() << " to "
            << v.numbers.back() << "\n";
    }
    for (const std::string& defect : result.runDefects) out << "defect: " << defect << "\n";
    for (const std::string& violation : v.violations) out << "violation: " << violation << "\n";
    if (!result.poolProblem.empty()) out << "violation: " << result.poolProblem << "\n";
    if (!result.Clean() || options.keep) out << "kept: " << result.workDirectory << "\n";
    out << (result.Clean() ? "no defect\n" : "DEFECTS FOUND\n");
}

}  // namespace farsend::evidence

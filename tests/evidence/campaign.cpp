#include "evidence/campaign.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "cli/sha256.h"
#include "evidence/flash_compare.h"
#include "sim/sample_firmware.h"

namespace farsend::evidence {

namespace fs = std::filesystem;

namespace {

bool HasText(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") != std::string::npos;
}

std::string MakeWorkDirectory(const std::string& wanted) {
    if (!wanted.empty()) {
        fs::create_directories(wanted);
        return fs::absolute(wanted).string();
    }
    std::string pattern = (fs::temp_directory_path() / "farsend-campaign-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return "";
    return pattern;
}

bool WriteRunImage(const RunPlan& plan, const std::string& path, std::string& error) {
    if (!sim::WriteImageFile(path, plan.image, &error)) return false;
    if (plan.malformedTail.empty()) return true;
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << plan.malformedTail;
    if (!out) error = path + ": cannot append";
    return static_cast<bool>(out);
}

// The file changed in place, as a copy over it or an editor's save does: a
// reader that has the file open sees the change.
void ChangeFile(const RunPlan& plan, const std::string& path) {
    if (plan.fileChange == FileChange::Truncate) {
        if (::truncate(path.c_str(), static_cast<off_t>(plan.truncateTo)) != 0)
            std::perror(path.c_str());
        return;
    }
    const std::string text = plan.ReplacementText();
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        std::perror(path.c_str());
    }
    if (fd >= 0) ::close(fd);
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The sha256 the run's record names; "" when there is none.
std::string RecordedDigest(const std::string& reportPath) {
    const std::string report = ReadWhole(reportPath);
    const std::string key = "\"sha256\":\"";
    const size_t at = report.find(key);
    if (at == std::string::npos || report.size() < at + key.size() + 64) return "";
    return report.substr(at + key.size(), 64);
}

std::string Hex(const std::array<uint8_t, 32>& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

// `head` followed by a prefix of `tail`, the shortest prefix whose digest is
// `digest`; nothing when no prefix has it.
std::optional<std::string> PrefixWithDigest(const std::string& head, const std::string& tail,
                                            const std::string& digest) {
    cli::Sha256 hash;
    hash.Update(head);
    for (size_t length = 0;; ++length) {
        cli::Sha256 copy = hash;
        if (Hex(copy.Finish()) == digest) return head + tail.substr(0, length);
        if (length == tail.size()) return std::nullopt;
        hash.Update(tail.data() + length, 1);
    }
}

// What the file held, as far as a reader can have seen it, whose digest the
// record names: the file whole, cut short anywhere, or (rewritten) the new
// text in part, or the old text up to a page and the new one after it.
std::optional<std::string> SnapshotWithDigest(const RunPlan& plan, const std::string& digest) {
    const std::string before = plan.ImageText();
    if (auto found = PrefixWithDigest("", before, digest)) return found;
    if (plan.fileChange != FileChange::Rewrite) return std::nullopt;
    const std::string after = plan.ReplacementText();
    if (auto found = PrefixWithDigest("", after, digest)) return found;
    for (size_t page = 4096; page < before.size() && page < after.size(); page += 4096) {
        if (auto found = PrefixWithDigest(before.substr(0, page), after.substr(page), digest)) {
            return found;
        }
    }
    return std::nullopt;
}

// Success for a file that changed during the run: the record must name
// content the file really held, and the flash must hold exactly that.
Verdict JudgeChangedFileSuccess(const RunPlan& plan, const std::string& flashOutPath,
                                std::string& detail) {
    const std::string digest = RecordedDigest(ReportPath(flashOutPath));
    if (digest.empty()) {
        detail = "reported success, but its record names no sha256";
        return Verdict::FalseSuccess;
    }
    const std::optional<std::string> snapshot = SnapshotWithDigest(plan, digest);
    if (!snapshot) {
        detail = "reported success with sha256 " + digest + ", of nothing the file ever held";
        return Verdict::FalseSuccess;
    }
    const std::string snapshotPath =
        (fs::path(flashOutPath).parent_path() / "snapshot.hex").string();
    std::ofstream(snapshotPath, std::ios::binary) << *snapshot;
    std::string error;
    const std::optional<ByteMap> image = ReadByteMap(snapshotPath, error);
    if (!image) {
        detail = "reported success for content the image reader refuses: " + error;
        return Verdict::FalseSuccess;
    }
    const std::optional<ByteMap> flash = ReadByteMap(flashOutPath, error);
    if (!flash) {
        detail = "reported success, but the flash cannot be read: " + error;
        return Verdict::FalseSuccess;
    }
    const std::string difference = FirstDifference(*flash, *image);
    if (!difference.empty()) {
        detail = "reported success, but against the file as the job read it, " + difference;
        return Verdict::FalseSuccess;
    }
    return Verdict::Success;
}

}  // namespace

RunOutcome RunPlanned(const CampaignOptions& options, const std::string& workDirectory,
                      const RunPlan& plan) {
    RunOutcome outcome;
    outcome.plan = plan;
    outcome.directory = workDirectory + "/run-" + std::to_string(plan.index);
    fs::create_directories(outcome.directory);
    const std::string imagePath = outcome.directory + "/" + outcome.plan.fileName;
    const std::string flashOutPath = outcome.directory + "/flash-out.hex";

    std::string error;
    if (!WriteRunImage(outcome.plan, imagePath, error)) {
        outcome.verdict = Verdict::Unexplained;
        outcome.detail = "the campaign could not write its image: " + error;
        return outcome;
    }
    MidRunAction meanwhile;
    if (plan.fileChange != FileChange::None) {
        meanwhile.at = std::chrono::milliseconds(plan.changeAfterMs);
        meanwhile.act = [&plan, &imagePath] { ChangeFile(plan, imagePath); };
    }
    outcome.child = RunChild(options.farsend, outcome.plan.Arguments(imagePath, flashOutPath),
                             outcome.directory, options.limit, meanwhile);
    outcome.verdict = Judge(outcome.plan, outcome.child, imagePath, flashOutPath, outcome.detail);
    if (!IsDefect(outcome.verdict) && !options.keepAll) {
        std::error_code ignored;
        fs::remove_all(outcome.directory, ignored);
    }
    return outcome;
}

namespace {

std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text.size() > 200 ? text.substr(0, 200) + "..." : text;
}

}  // namespace

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Success:
            return "success";
        case Verdict::Failure:
            return "failure";
        case Verdict::FalseSuccess:
            return "FALSE SUCCESS";
        case Verdict::MissedRefusal:
            return "MISSED REFUSAL";
        case Verdict::Hang:
            return "HANG";
        case Verdict::Crash:
            return "CRASH";
        case Verdict::Unexplained:
            return "UNEXPLAINED FAILURE";
        case Verdict::ControlFailed:
            return "CONTROL FAILED";
        case Verdict::CrossTalk:
            return "CROSS-TALK";
    }
    return "?";
}

bool IsDefect(Verdict verdict) {
    return verdict != Verdict::Success && verdict != Verdict::Failure;
}

bool HasSanitizerReport(const std::string& err) {
    static const char* const kMarkers[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                           "runtime error:", "WARNING: ThreadSanitizer",
                                           "UndefinedBehaviorSanitizer"};
    for (const char* marker : kMarkers) {
        if (err.find(marker) != std::string::npos) return true;
    }
    return false;
}

Verdict Judge(const RunPlan& plan, const ChildResult& child, const std::string& imagePath,
              const std::string& flashOutPath, std::string& detail) {
    switch (child.end) {
        case ChildEnd::NotStarted:
            detail = "the program could not be started";
            return Verdict::Crash;
        case ChildEnd::TimedOut:
            detail = "still running after " + std::to_string(child.wallSeconds) + " s; killed";
            return Verdict::Hang;
        case ChildEnd::Signalled:
            detail = "ended by signal " + std::to_string(child.signal);
            return Verdict::Crash;
        case ChildEnd::Exited:
            break;
    }
    if (HasSanitizerReport(child.err)) {
        detail = "sanitizer report, exit status " + std::to_string(child.exitStatus);
        return Verdict::Crash;
    }
    const int status = child.exitStatus;
    if (status == 0) {
        if (plan.MustFail()) {
            detail = std::string("reported success for a ") + ScenarioName(plan.scenario);
            return Verdict::MissedRefusal;
        }
        if (plan.scenario == Scenario::FileChanged) {
            return JudgeChangedFileSuccess(plan, flashOutPath, detail);
        }
        std::string error;
        const std::optional<ByteMap> image = ReadByteMap(imagePath, error);
        if (!image) {
            detail = "the campaign's own image cannot be read: " + error;
            return Verdict::Unexplained;
        }
        const std::optional<ByteMap> flash = ReadByteMap(flashOutPath, error);
        if (!flash) {
            detail = "reported success, but the flash cannot be read: " + error;
            return Verdict::FalseSuccess;
        }
        const std::string difference = FirstDifference(*flash, *image);
        if (!difference.empty()) {
            detail = "reported success, but " + difference;
            return Verdict::FalseSuccess;
        }
        return Verdict::Success;
    }
    if (status < 3 || status > 7) {
        detail = "exit status " + std::to_string(status) + ": " + OneLine(child.err);
        return Verdict::Unexplained;
    }
    if (!HasText(child.err)) {
        detail = "exit status " + std::to_string(status) + " without a message";
        return Verdict::Unexplained;
    }
    if (plan.scenario == Scenario::WrongTarget && status != 4) {
        detail = "a file for another target ended in " + std::to_string(status) +
                 ", not 4: " + OneLine(child.err);
        return Verdict::Unexplained;
    }
    if (plan.scenario == Scenario::MalformedFile && status != 3) {
        detail = "a malformed file ended in " + std::to_string(status) +
                 ", not 3: " + OneLine(child.err);
        return Verdict::Unexplained;
    }
    if (plan.scenario == Scenario::None) {
        detail = "no faults, exit status " + std::to_string(status) + ": " + OneLine(child.err);
        return Verdict::ControlFailed;
    }
    return Verdict::Failure;
}

CampaignResult RunCampaign(const CampaignOptions& options,
                           const std::function<void(const RunOutcome&)>& progress) {
    CampaignResult result;
    result.workDirectory = MakeWorkDirectory(options.workDirectory);
    const auto started = std::chrono::steady_clock::now();
    result.outcomes = RunNumbered<RunOutcome>(
        options.runs, options.jobs,
        [&](uint32_t n) {
            return RunPlanned(options, result.workDirectory,
                              PlanRun(options.seed, options.firstRun + n));
        },
        progress);

    result.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

uint32_t CampaignTally::Defects() const {
    uint32_t defects = 0;
    for (int v = 0; v < kVerdictCount; ++v) {
        if (IsDefect(static_cast<Verdict>(v))) defects += verdicts[v];
    }
    return defects;
}

CampaignTally Tally(const std::vector<RunOutcome>& outcomes) {
    CampaignTally tally;
    for (const RunOutcome& outcome : outcomes) {
        ++tally.runs;
        ++tally.verdicts[static_cast<int>(outcome.verdict)];
        const int scenario = static_cast<int>(outcome.plan.scenario);
        ++tally.scenarioRuns[scenario];
        if (outcome.child.end == ChildEnd::Exited) {
            ++tally.exitStatuses[static_cast<uint8_t>(outcome.child.exitStatus)];
            if (outcome.child.exitStatus == 0) ++tally.scenarioSuccesses[scenario];
        }
        tally.slowestRunSeconds = std::max(tally.slowestRunSeconds, outcome.child.wallSeconds);
    }
    return tally;
}

void PrintReport(std::ostream& out, const CampaignOptions& options, const CampaignResult& result) {
    const CampaignTally t = Tally(result.outcomes);
    char line[512];
    std::snprintf(line, sizeof line,
                  "fault campaign: seed %llu, runs %u..%u, %d at a time, %.1f s "
                  "(slowest run %.2f s, limit %.0f s)\n\n",
                  static_cast<unsigned long long>(options.seed), options.firstRun,
                  options.firstRun + options.runs - 1, std::max(1, options.jobs),
                  result.wallSeconds, t.slowestRunSeconds,
                  static_cast<double>(options.limit.count()) / 1000.0);
    out << line;

    out << "| runs | successes | exit 3 | exit 4 | exit 5 | exit 6 | exit 7 | other exits "
           "| false successes | hangs | crashes |\n"
           "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    uint32_t otherExits = 0;
    for (int status = 1; status < 256; ++status) {
        if (status < 3 || status > 7) otherExits += t.exitStatuses[status];
    }
    std::snprintf(line, sizeof line, "| %u | %u | %u | %u | %u | %u | %u | %u | %u | %u | %u |\n",
                  t.runs, t.Count(Verdict::Success), t.exitStatuses[3], t.exitStatuses[4],
                  t.exitStatuses[5], t.exitStatuses[6], t.exitStatuses[7], otherExits,
                  t.Count(Verdict::FalseSuccess), t.Count(Verdict::Hang), t.Count(Verdict::Crash));
    out << line;
    std::snprintf(line, sizeof line,
                  "\nAlso checked: missed refusals %u, failures without a message or with a "
                  "wrong status %u, fault-free runs that failed %u.\n\n",
                  t.Count(Verdict::MissedRefusal), t.Count(Verdict::Unexplained),
                  t.Count(Verdict::ControlFailed));
    out << line;

    out << "| scenario | runs | programmed | refused or failed |\n|---|---:|---:|---:|\n";
    for (int s = 0; s < kScenarioCount; ++s) {
        std::snprintf(line, sizeof line, "| %s | %u | %u | %u |\n",
                      ScenarioName(static_cast<Scenario>(s)), t.scenarioRuns[s],
                      t.scenarioSuccesses[s], t.scenarioRuns[s] - t.scenarioSuccesses[s]);
        out << line;
    }

    for (const RunOutcome& outcome : result.outcomes) {
        if (!IsDefect(outcome.verdict)) continue;
        const std::string image = outcome.directory + "/" + outcome.plan.fileName;
        out << "\nrun " << outcome.plan.index << " (" << ScenarioName(outcome.plan.scenario)
            << "): " << VerdictName(outcome.verdict) << ": " << outcome.detail << "\n  "
            << outcome.plan.CommandLine(image, outcome.directory + "/flash-out.hex") << "\n";
    }
    out << (t.Defects() == 0 ? "\nno defects\n" : "\nDEFECTS FOUND\n");
}

}  // namespace farsend::evidence

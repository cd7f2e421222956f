#include "evidence/gang_campaign.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "cli/exit_status.h"
#include "cli/sha256.h"
#include "sim/sample_firmware.h"
#include "sim/sim_bridge.h"
#include "sim/sim_options.h"

namespace farsend::evidence {

namespace fs = std::filesystem;

namespace {

bool HasText(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") != std::string::npos;
}

std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text.size() > 200 ? text.substr(0, 200) + "..." : text;
}

std::string ReadWhole(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string MakeWorkDirectory(const std::string& wanted) {
    if (!wanted.empty()) {
        fs::create_directories(wanted);
        return fs::absolute(wanted).string();
    }
    std::string pattern = (fs::temp_directory_path() / "farsend-gang-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return "";
    return pattern;
}

// Higher is more serious, by the program's one published order; a status
// not in it ranks below all.
int Rank(int status) {
    const auto& order = cli::kSeverityOrder;
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i] == status) return static_cast<int>(order.size() - i);
    }
    return 0;
}

// Defects by weight, gravest first; then the two verdicts that are none.
int Weight(Verdict verdict) {
    static const Verdict kOrder[] = {
        Verdict::Crash,         Verdict::Hang,      Verdict::FalseSuccess,
        Verdict::MissedRefusal, Verdict::CrossTalk, Verdict::ControlFailed,
        Verdict::Unexplained,   Verdict::Failure,   Verdict::Success};
    for (int i = 0; i < kVerdictCount; ++i) {
        if (kOrder[i] == verdict) return kVerdictCount - i;
    }
    return 0;
}

const char* StationScenarioName(Scenario scenario) {
    return scenario == Scenario::None ? "clean" : ScenarioName(scenario);
}

}  // namespace

bool Graver(Verdict a, Verdict b) {
    return Weight(a) > Weight(b);
}

int MostSeriousStatus(const std::vector<int>& statuses) {
    int worst = 0;
    for (int status : statuses) {
        if (Rank(status) > Rank(worst)) worst = status;
    }
    return worst;
}

std::optional<std::vector<StationRecord>> ReadStationRecords(const std::string& path,
                                                             std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    std::vector<StationRecord> records;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        const auto text = [&](const char* key, std::string& value) {
            if (!object.contains(key) || !object[key].is_string()) return false;
            value = object[key].get<std::string>();
            return true;
        };
        StationRecord record;
        if (!object.is_object() || !text("station", record.station) ||
            !text("command", record.command) || !text("message", record.message) ||
            !text("sha256", record.sha256) || !object.contains("status") ||
            !object["status"].is_number_integer()) {
            error = "report line " + std::to_string(number) +
                    " is not a unit's record: " + OneLine(line);
            return std::nullopt;
        }
        record.status = object["status"].get<int>();
        records.push_back(std::move(record));
    }
    return records;
}

StationOutcome JudgeStation(const GangPlan& plan, uint32_t number, const StationRecord* record,
                            const ByteMap& image, const std::string& imageDigest,
                            const std::string& flashPath, const std::string& err) {
    StationOutcome outcome;
    const GangStation& station = plan.stations[number - 1];
    const std::string name = sim::SimBridge::LocationOf(number);
    if (record == nullptr) {
        if (err.find("[" + name + "] farsend: no target called") == std::string::npos) {
            outcome.verdict = Verdict::Unexplained;
            outcome.detail = name + " left no record";
            return outcome;
        }
        outcome.status = 5;
        if (station.Clean()) {
            outcome.verdict = plan.AnyFaulty() ? Verdict::CrossTalk : Verdict::ControlFailed;
            outcome.detail = name + ", without faults, had no target calling";
        }
        return outcome;
    }
    outcome.status = record->status;
    const std::string status = std::to_string(record->status);
    if (record->command != "program") {
        outcome.verdict = Verdict::Unexplained;
        outcome.detail = name + "'s record is of \"" + record->command + "\", not program";
        return outcome;
    }
    if (record->status == 0) {
        if (station.scenario == Scenario::WrongTarget) {
            outcome.verdict = Verdict::MissedRefusal;
            outcome.detail = name + " reported success on a ZigBee target";
            return outcome;
        }
        if (record->sha256 != imageDigest) {
            outcome.verdict = Verdict::FalseSuccess;
            outcome.detail = name + " reported success for sha256 \"" + record->sha256 +
                             "\", the file's is " + imageDigest;
            return outcome;
        }
        std::string error;
        const std::optional<ByteMap> flash = ReadByteMap(flashPath, error);
        if (!flash) {
            outcome.verdict = Verdict::FalseSuccess;
            outcome.detail = name + " reported success, but its flash cannot be read: " + error;
            return outcome;
        }
        const std::string difference = FirstDifference(*flash, image);
        if (!difference.empty()) {
            outcome.verdict = Verdict::FalseSuccess;
            outcome.detail = name + " reported success, but " + difference;
            return outcome;
        }
        outcome.verdict = Verdict::Success;
        return outcome;
    }
    if (record->status < 3 || record->status > 7) {
        outcome.verdict = Verdict::Unexplained;
        outcome.detail = name + " ended in " + status + ": " + OneLine(record->message);
        return outcome;
    }
    if (!HasText(record->message)) {
        outcome.verdict = Verdict::Unexplained;
        outcome.detail = name + " ended in " + status + " without a message";
        return outcome;
    }
    // The operator reads the terminal, not the records: the failure must
    // be told there too, under the station's name.
    if (err.find("[" + name + "] ") == std::string::npos) {
        outcome.verdict = Verdict::Unexplained;
        outcome.detail = name + " ended in " + status + ", but said nothing on standard error";
        return outcome;
    }
    if (station.scenario == Scenario::WrongTarget && record->status != 4) {
        outcome.verdict = Verdict::Unexplained;
        outcome.detail =
            name + ", a ZigBee target, ended in " + status + ", not 4: " + OneLine(record->message);
        return outcome;
    }
    if (station.Clean()) {
        outcome.verdict = plan.AnyFaulty() ? Verdict::CrossTalk : Verdict::ControlFailed;
        outcome.detail =
            name + ", without faults, ended in " + status + ": " + OneLine(record->message);
        return outcome;
    }
    outcome.verdict = Verdict::Failure;
    return outcome;
}

Verdict JudgeGang(const GangPlan& plan, const ChildResult& child, const std::string& imagePath,
                  const std::string& flashOutPath, const std::string& reportPath,
                  std::vector<StationOutcome>& stations, std::string& detail) {
    stations.clear();
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
    std::string error;
    const std::optional<ByteMap> image = ReadByteMap(imagePath, error);
    bool read = false;
    const std::string imageText = ReadWhole(imagePath, read);
    if (!image || !read) {
        detail = "the campaign's own image cannot be read: " + error;
        return Verdict::Unexplained;
    }
    const std::string digest = cli::Sha256Hex(imageText);

    std::vector<StationRecord> records;
    std::string gangDefect;  // what is wrong with the run as a whole
    if (fs::exists(reportPath)) {
        if (auto read_records = ReadStationRecords(reportPath, error)) {
            records = std::move(*read_records);
        } else {
            gangDefect = error;
        }
    }
    const auto count = static_cast<uint32_t>(plan.stations.size());
    std::vector<const StationRecord*> byStation(count, nullptr);
    for (const StationRecord& record : records) {
        uint32_t number = 0;
        for (uint32_t k = 1; k <= count; ++k) {
            if (record.station == sim::SimBridge::LocationOf(k)) number = k;
        }
        if (number == 0) {
            if (gangDefect.empty()) gangDefect = "a record of no station here: " + record.station;
        } else if (byStation[number - 1] != nullptr) {
            if (gangDefect.empty()) gangDefect = "two records of " + record.station;
        } else {
            byStation[number - 1] = &record;
        }
    }

    Verdict verdict = Verdict::Success;
    std::vector<int> statuses;
    for (uint32_t k = 1; k <= count; ++k) {
        stations.push_back(JudgeStation(plan, k, byStation[k - 1], *image, digest,
                                        sim::BridgeFileName(flashOutPath, k, count), child.err));
        const StationOutcome& station = stations.back();
        if (station.status >= 0) statuses.push_back(station.status);
        if (Graver(station.verdict, verdict)) {
            verdict = station.verdict;
            detail = station.detail;
        }
    }
    const int expected = MostSeriousStatus(statuses);
    if (gangDefect.empty() && child.exitStatus != expected) {
        gangDefect = "exit status " + std::to_string(child.exitStatus) +
                     ", the stations' most serious is " + std::to_string(expected) + ": " +
                     OneLine(child.err);
    }
    if (gangDefect.empty() && child.exitStatus != 0 && !HasText(child.err)) {
        gangDefect = "exit status " + std::to_string(child.exitStatus) + " without a message";
    }
    if (!gangDefect.empty() && Graver(Verdict::Unexplained, verdict)) {
        verdict = Verdict::Unexplained;
        detail = gangDefect;
    }
    return verdict;
}

GangOutcome RunGangPlanned(const CampaignOptions& options, const std::string& workDirectory,
                           const GangPlan& plan) {
    GangOutcome outcome;
    outcome.plan = plan;
    outcome.directory = workDirectory + "/gang-" + std::to_string(plan.index);
    fs::create_directories(outcome.directory);
    std::string error;
    if (!sim::WriteImageFile(outcome.ImagePath(), plan.image, &error)) {
        outcome.verdict = Verdict::Unexplained;
        outcome.detail = "the campaign could not write its image: " + error;
        return outcome;
    }
    outcome.child =
        RunChild(options.farsend,
                 plan.Arguments(outcome.ImagePath(), outcome.FlashOutPath(), outcome.ReportPath()),
                 outcome.directory, options.limit);
    outcome.verdict = JudgeGang(plan, outcome.child, outcome.ImagePath(), outcome.FlashOutPath(),
                                outcome.ReportPath(), outcome.stations, outcome.detail);
    if (!IsDefect(outcome.verdict) && !options.keepAll) {
        std::error_code ignored;
        fs::remove_all(outcome.directory, ignored);
    }
    return outcome;
}

GangCampaignResult RunGangCampaign(const CampaignOptions& options,
                                   const std::function<void(const GangOutcome&)>& progress) {
    GangCampaignResult result;
    result.workDirectory = MakeWorkDirectory(options.workDirectory);
    const auto started = std::chrono::steady_clock::now();
    result.outcomes = RunNumbered<GangOutcome>(
        options.runs, options.jobs,
        [&](uint32_t n) {
            return RunGangPlanned(options, result.workDirectory,
                                  PlanGangRun(options.seed, options.firstRun + n));
        },
        progress);
    result.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

uint32_t GangTally::Defects() const {
    uint32_t defects = 0;
    for (int v = 0; v < kVerdictCount; ++v) {
        if (IsDefect(static_cast<Verdict>(v))) defects += runVerdicts[v];
    }
    return defects;
}

GangTally TallyGang(const std::vector<GangOutcome>& outcomes) {
    GangTally tally;
    for (const GangOutcome& outcome : outcomes) {
        ++tally.runs;
        ++tally.runVerdicts[static_cast<int>(outcome.verdict)];
        tally.stations += static_cast<uint32_t>(outcome.plan.stations.size());
        for (size_t k = 0; k < outcome.stations.size(); ++k) {
            const StationOutcome& station = outcome.stations[k];
            const int scenario = static_cast<int>(outcome.plan.stations[k].scenario);
            ++tally.stationVerdicts[static_cast<int>(station.verdict)];
            ++tally.scenarioStations[scenario];
            if (station.status >= 0 && station.status < 256)
                ++tally.stationStatuses[station.status];
            if (station.status == 0) ++tally.scenarioSuccesses[scenario];
        }
        tally.slowestRunSeconds = std::max(tally.slowestRunSeconds, outcome.child.wallSeconds);
    }
    return tally;
}

void PrintGangReport(std::ostream& out, const CampaignOptions& options,
                     const GangCampaignResult& result) {
    const GangTally t = TallyGang(result.outcomes);
    char line[512];
    std::snprintf(line, sizeof line,
                  "gang fault campaign: seed %llu, gang runs %u..%u, %d at a time, %.1f s "
                  "(slowest run %.2f s, limit %.0f s)\n\n",
                  static_cast<unsigned long long>(options.seed), options.firstRun,
                  options.firstRun + options.runs - 1, std::max(1, options.jobs),
                  result.wallSeconds, t.slowestRunSeconds,
                  static_cast<double>(options.limit.count()) / 1000.0);
    out << line;
    out << "| gang runs | stations | programmed | exit 3 | exit 4 | exit 5 | exit 6 | exit 7 "
           "| false successes | cross-talk | hangs | crashes |\n"
           "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    std::snprintf(line, sizeof line,
                  "| %u | %u | %u | %u | %u | %u | %u | %u | %u | %u | %u | %u |\n", t.runs,
                  t.stations, t.Stations(Verdict::Success), t.stationStatuses[3],
                  t.stationStatuses[4], t.stationStatuses[5], t.stationStatuses[6],
                  t.stationStatuses[7], t.Stations(Verdict::FalseSuccess),
                  t.Stations(Verdict::CrossTalk), t.Runs(Verdict::Hang), t.Runs(Verdict::Crash));
    out << line;
    std::snprintf(line, sizeof line,
                  "\nAlso checked: missed refusals %u, control gangs that failed %u, runs with "
                  "a record missing or wrong, a failure without a message or a wrong process "
                  "status %u.\n\n",
                  t.Stations(Verdict::MissedRefusal), t.Stations(Verdict::ControlFailed),
                  t.Runs(Verdict::Unexplained));
    out << line;
    out << "| station's scenario | stations | programmed | refused or failed |\n"
           "|---|---:|---:|---:|\n";
    for (int s = 0; s < kScenarioCount; ++s) {
        if (t.scenarioStations[s] == 0) continue;
        std::snprintf(line, sizeof line, "| %s | %u | %u | %u |\n",
                      StationScenarioName(static_cast<Scenario>(s)), t.scenarioStations[s],
                      t.scenarioSuccesses[s], t.scenarioStations[s] - t.scenarioSuccesses[s]);
        out << line;
    }
    for (const GangOutcome& outcome : result.outcomes) {
        if (!IsDefect(outcome.verdict)) continue;
        out << "\ngang run " << outcome.plan.index << " (" << outcome.plan.stations.size()
            << " stations): " << VerdictName(outcome.verdict) << ": " << outcome.detail << "\n  "
            << outcome.plan.CommandLine(outcome.ImagePath(), outcome.FlashOutPath(),
                                        outcome.ReportPath())
            << "\n";
    }
    out << (t.Defects() == 0 ? "\nno defects\n" : "\nDEFECTS FOUND\n");
}

}  // namespace farsend::evidence

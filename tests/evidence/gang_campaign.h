// The gang mode of the fault campaign: one farsend process programs 2 to 4
// simulated bridges at once, some of them with faults, and each station is
// judged on its own record (--report) against its own flash file.
//
// On top of the single runs' defects, a gang run is a defect when
// - a clean station fails while another station has faults (cross-talk:
//   one station's fault reached another's job);
// - a station reports success while its record names another file's
//   digest, or its flash does not hold the image;
// - the records are not one line per station, each naming its station
//   (a station whose target never called has none, and says so);
// - the process status is not the most serious of the stations' statuses.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "evidence/campaign.h"
#include "evidence/campaign_plan.h"
#include "evidence/child_process.h"
#include "evidence/flash_compare.h"

namespace farsend::evidence {

// What a station's --report line says.
struct StationRecord {
    std::string station;
    std::string command;
    int status = -1;
    std::string message;
    std::string sha256;
};

// The report file's lines; nullopt (with `error`) when the file cannot be
// read or a line is not an object with those fields.
std::optional<std::vector<StationRecord>> ReadStationRecords(const std::string& path,
                                                             std::string& error);

// The most serious of the statuses, by the order the program publishes
// (cli::kSeverityOrder, the one --help states): the status the process must
// exit with. The statuses come from the campaign's own judgement of each
// station, so the process's own ranking of its stations is still checked.
int MostSeriousStatus(const std::vector<int>& statuses);

struct StationOutcome {
    Verdict verdict = Verdict::Failure;
    std::string detail;
    int status = -1;  // as its record gives it (5: no target called); -1 unknown
};

// Judges station `number` (1 to the gang's size) of `plan` from its record
// (nullptr: it has none), the image's bytes and the digest of its file, the
// station's flash file and the process's standard error. A record stands
// for a target, so a station whose target never called has none; it must
// say so on standard error instead, and counts as status 5.
StationOutcome JudgeStation(const GangPlan& plan, uint32_t number, const StationRecord* record,
                            const ByteMap& image, const std::string& imageDigest,
                            const std::string& flashPath, const std::string& err);

// Judges a finished gang run: its end, its records, every station, and the
// process status against the stations'. `stations` gets one outcome per
// station (none after a hang or a crash). Returns the gravest verdict.
Verdict JudgeGang(const GangPlan& plan, const ChildResult& child, const std::string& imagePath,
                  const std::string& flashOutPath, const std::string& reportPath,
                  std::vector<StationOutcome>& stations, std::string& detail);

// Which of two verdicts weighs more in a gang's summary.
bool Graver(Verdict a, Verdict b);

struct GangOutcome {
    GangPlan plan;
    ChildResult child;
    Verdict verdict = Verdict::Failure;
    std::string detail;
    std::vector<StationOutcome> stations;
    std::string directory;

    std::string ImagePath() const { return directory + "/" + plan.fileName; }
    std::string FlashOutPath() const { return directory + "/flash-out.hex"; }
    std::string ReportPath() const { return directory + "/units.jsonl"; }
};

GangOutcome RunGangPlanned(const CampaignOptions& options, const std::string& workDirectory,
                           const GangPlan& plan);

struct GangCampaignResult {
    std::vector<GangOutcome> outcomes;  // in run order
    std::string workDirectory;
    double wallSeconds = 0;
};

GangCampaignResult RunGangCampaign(const CampaignOptions& options,
                                   const std::function<void(const GangOutcome&)>& progress = {});

struct GangTally {
    uint32_t runs = 0;
    uint32_t stations = 0;
    std::array<uint32_t, kVerdictCount> runVerdicts{};
    std::array<uint32_t, kVerdictCount> stationVerdicts{};
    std::array<uint32_t, 256> stationStatuses{};  // by the records
    // Stations by their scenario: how many, how many programmed.
    std::array<uint32_t, kScenarioCount> scenarioStations{};
    std::array<uint32_t, kScenarioCount> scenarioSuccesses{};
    double slowestRunSeconds = 0;

    uint32_t Runs(Verdict verdict) const { return runVerdicts[static_cast<int>(verdict)]; }
    uint32_t Stations(Verdict verdict) const { return stationVerdicts[static_cast<int>(verdict)]; }
    uint32_t Defects() const;
};

GangTally TallyGang(const std::vector<GangOutcome>& outcomes);

void PrintGangReport(std::ostream& out, const CampaignOptions& options,
                     const GangCampaignResult& result);

}  // namespace farsend::evidence

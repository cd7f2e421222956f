// The fault campaign: many programming runs of the farsend process against
// the simulated target with seeded faults, each judged on what the process
// claimed against what the target's flash holds.
//
// A run is a defect when it
// - claims success (exit 0) while the flash differs from the image
//   (a false success), or claims success for a file it had to refuse;
// - does not end within the time limit (a hang; it is killed);
// - ends on a signal or with a sanitizer report (a crash);
// - fails without a message on standard error, or with a status that is
//   not one of the failures 3..7 (or not the one a refusal must give);
// - fails although the line had no faults at all.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "evidence/campaign_plan.h"
#include "evidence/child_process.h"

namespace farsend::evidence {

enum class Verdict {
    Success,        // exit 0 and the flash holds the image
    Failure,        // a failure that says so: status 3..7 with a message
    FalseSuccess,   // exit 0 but the flash does not hold the image
    MissedRefusal,  // exit 0 for a file that had to be refused
    Hang,
    Crash,
    Unexplained,    // a failure without a message, or with a status it must not have
    ControlFailed,  // no faults on the line, and still not programmed
    // (gang runs) a clean station failed while another had faults
    CrossTalk,
};
constexpr int kVerdictCount = 9;

const char* VerdictName(Verdict verdict);
bool IsDefect(Verdict verdict);

struct RunOutcome {
    RunPlan plan;
    ChildResult child;
    Verdict verdict = Verdict::Failure;
    std::string detail;     // why a defect is one
    std::string directory;  // where the run's files are (kept for defects)
};

// Judges a finished run; `flashOutPath` is the run's --sim-flash-out file,
// `imagePath` its image.
Verdict Judge(const RunPlan& plan, const ChildResult& child, const std::string& imagePath,
              const std::string& flashOutPath, std::string& detail);

// Whether `err` holds a report of AddressSanitizer, LeakSanitizer,
// UndefinedBehaviorSanitizer or ThreadSanitizer.
bool HasSanitizerReport(const std::string& err);

struct CampaignOptions {
    std::string farsend;  // the program under test
    uint64_t seed = 1;
    uint32_t firstRun = 0;
    uint32_t runs = 100;
    int jobs = 1;               // runs at the same time
    std::string workDirectory;  // empty: a new one under the system's temp directory
    std::chrono::milliseconds limit{60000};
    bool keepAll = false;  // keep the files of good runs too
};

struct CampaignResult {
    std::vector<RunOutcome> outcomes;  // in run order
    std::string workDirectory;
    double wallSeconds = 0;
};

// One run of `plan` in its own folder under `workDirectory`; the folder is
// removed again unless the run is a defect or options.keepAll is set.
RunOutcome RunPlanned(const CampaignOptions& options, const std::string& workDirectory,
                      const RunPlan& plan);

// Runs `runOne(n)` for n from 0 to runs - 1 on `jobs` threads and returns
// the outcomes in run order; `progress` (if given) sees each outcome as it
// comes, one call at a time. Both campaigns run their runs through this.
template <typename Outcome>
std::vector<Outcome> RunNumbered(uint32_t runs, int jobs,
                                 const std::function<Outcome(uint32_t)>& runOne,
                                 const std::function<void(const Outcome&)>& progress) {
    std::vector<Outcome> outcomes(runs);
    std::atomic<uint32_t> next{0};
    std::mutex progressLock;
    const auto worker = [&] {
        for (;;) {
            const uint32_t n = next++;
            if (n >= runs) return;
            Outcome outcome = runOne(n);
            if (progress) {
                std::lock_guard<std::mutex> lock(progressLock);
                progress(outcome);
            }
            outcomes[n] = std::move(outcome);
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < std::max(1, jobs); ++i) threads.emplace_back(worker);
    worker();
    for (std::thread& thread : threads) thread.join();
    return outcomes;
}

// Runs the campaign. `progress` (if given) is called after each run, from
// whichever thread ran it, one call at a time.
CampaignResult RunCampaign(const CampaignOptions& options,
                           const std::function<void(const RunOutcome&)>& progress = {});

struct CampaignTally {
    uint32_t runs = 0;
    std::array<uint32_t, kVerdictCount> verdicts{};
    std::array<uint32_t, 256> exitStatuses{};  // runs that exited, by status
    // By scenario: runs, successes.
    std::array<uint32_t, kScenarioCount> scenarioRuns{};
    std::array<uint32_t, kScenarioCount> scenarioSuccesses{};
    double slowestRunSeconds = 0;

    uint32_t Count(Verdict verdict) const { return verdicts[static_cast<int>(verdict)]; }
    uint32_t Defects() const;
};

CampaignTally Tally(const std::vector<RunOutcome>& outcomes);

// The summary table (Markdown), then a table by scenario, then one line per
// defect with the command that repeats it.
void PrintReport(std::ostream& out, const CampaignOptions& options, const CampaignResult& result);

}  // namespace farsend::evidence

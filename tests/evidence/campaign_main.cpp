// fault_campaign: programs the simulated target through the farsend process
// again and again with seeded faults and prints what came of it.
//   fault_campaign --farsend PATH [--runs N] [--seed N] [--first N] [--jobs N]
//                  [--dir DIR] [--limit SECONDS] [--keep] [--progress] [--gang]
// --gang: each run programs 2 to 4 stations in one process, faults on some.
// Exit status: 0 no defect found, 1 defects found, 2 usage error.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "evidence/campaign.h"
#include "evidence/gang_campaign.h"

using namespace farsend::evidence;

namespace {

int Usage(const std::string& problem) {
    std::cerr << "fault_campaign: " << problem
              << "\nusage: fault_campaign --farsend PATH [--runs N] [--seed N] [--first N] "
                 "[--jobs N] [--dir DIR] [--limit SECONDS] [--keep] [--progress] [--gang]\n";
    return 2;
}

bool Number(const char* text, unsigned long long& value) {
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return end != text && *end == '\0';
}

int RunGang(const CampaignOptions& options, bool showProgress) {
    uint32_t done = 0;
    const GangCampaignResult result = RunGangCampaign(options, [&](const GangOutcome& outcome) {
        ++done;
        if (IsDefect(outcome.verdict)) {
            std::cerr << "gang run " << outcome.plan.index << ": " << VerdictName(outcome.verdict)
                      << ": " << outcome.detail << "\n";
        }
        if (showProgress && (done % 50 == 0 || done == options.runs)) {
            std::cerr << done << "/" << options.runs << " gang runs\n";
        }
    });
    if (result.workDirectory.empty()) {
        std::cerr << "fault_campaign: cannot create a working directory\n";
        return 2;
    }
    PrintGangReport(std::cout, options, result);
    const bool clean = TallyGang(result.outcomes).Defects() == 0;
    if (clean && !options.keepAll && options.workDirectory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(result.workDirectory, ignored);
    } else {
        std::cout << "files: " << result.workDirectory << "\n";
    }
    return clean ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CampaignOptions options;
    bool showProgress = false;
    bool gang = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--keep") {
            options.keepAll = true;
            continue;
        }
        if (word == "--gang") {
            gang = true;
            continue;
        }
        if (word == "--progress") {
            showProgress = true;
            continue;
        }
        if (i + 1 >= argc) return Usage(word + " needs a value");
        const char* value = argv[++i];
        unsigned long long number = 0;
        if (word == "--farsend") {
            options.farsend = std::filesystem::absolute(value).string();
        } else if (word == "--dir") {
            options.workDirectory = value;
        } else if (!Number(value, number)) {
            return Usage(word + " needs a whole number");
        } else if (word == "--runs" && number > 0 && number < 1000000) {
            options.runs = static_cast<uint32_t>(number);
        } else if (word == "--seed") {
            options.seed = number;
        } else if (word == "--first" && number < 1000000000) {
            options.firstRun = static_cast<uint32_t>(number);
        } else if (word == "--jobs" && number > 0 && number <= 64) {
            options.jobs = static_cast<int>(number);
        } else if (word == "--limit" && number > 0 && number <= 3600) {
            options.limit = std::chrono::milliseconds(number * 1000);
        } else {
            return Usage("cannot use " + word + " " + value);
        }
    }
    if (options.farsend.empty()) return Usage("--farsend is missing");
    if (!std::filesystem::exists(options.farsend)) return Usage(options.farsend + " not found");

    if (gang) return RunGang(options, showProgress);

    uint32_t done = 0;
    const CampaignResult result = RunCampaign(options, [&](const RunOutcome& outcome) {
        ++done;
        if (IsDefect(outcome.verdict)) {
            std::cerr << "run " << outcome.plan.index << ": " << VerdictName(outcome.verdict)
                      << ": " << outcome.detail << "\n";
        }
        if (showProgress && (done % 50 == 0 || done == options.runs)) {
            std::cerr << done << "/" << options.runs << " runs\n";
        }
    });
    if (result.workDirectory.empty()) {
        std::cerr << "fault_campaign: cannot create a working directory\n";
        return 2;
    }
    PrintReport(std::cout, options, result);
    const bool clean = Tally(result.outcomes).Defects() == 0;
    if (clean && !options.keepAll && options.workDirectory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(result.workDirectory, ignored);
    } else {
        std::cout << "files: " << result.workDirectory << "\n";
    }
    return clean ? 0 : 1;
}

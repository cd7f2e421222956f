// serial_crash_campaign: kills serialized `farsend watch` runs with SIGKILL
// at seeded random moments, again and again on one database and one flash
// folder, and judges what they left.
//   serial_crash_campaign --farsend PATH [--kills N] [--seed N] [--bridges N]
//                         [--baud N] [--latest MS] [--swap-one-in N] [--dir DIR] [--keep]
//                         [--progress]
// Exit status: 0 no defect found, 1 defects found, 2 usage error or no run.
#include <cstdlib>
#include <iostream>
#include <string>

#include "evidence/serial_crash_campaign.h"

using namespace farsend::evidence;

namespace {

int Usage(const std::string& problem) {
    std::cerr << "serial_crash_campaign: " << problem
              << "\nusage: serial_crash_campaign --farsend PATH [--kills N] [--seed N] "
                 "[--bridges N] [--baud N] [--latest MS] [--swap-one-in N] [--dir DIR] [--keep] "
                 "[--progress]\n";
    return 2;
}

bool Number(const char* text, unsigned long long& value) {
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    CrashCampaignOptions options;
    bool progress = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--keep") {
            options.keep = true;
            continue;
        }
        if (option == "--progress") {
            progress = true;
            continue;
        }
        if (i + 1 >= argc) return Usage(option + " needs a value");
        const char* value = argv[++i];
        unsigned long long number = 0;
        if (option == "--farsend") {
            options.farsend = value;
        } else if (option == "--dir") {
            options.directory = value;
        } else if (!Number(value, number)) {
            return Usage(option + ": " + value + " is not a number");
        } else if (option == "--kills") {
            options.kills = static_cast<uint32_t>(number);
        } else if (option == "--seed") {
            options.seed = number;
        } else if (option == "--bridges" && number >= 1 && number <= 8) {
            options.bridges = static_cast<uint32_t>(number);
        } else if (option == "--baud" && number > 0) {
            options.baud = static_cast<uint32_t>(number);
        } else if (option == "--swap-one-in") {
            options.swapOneIn = static_cast<uint32_t>(number);
        } else if (option == "--latest" && number > 0) {
            options.latest = std::chrono::milliseconds(number);
        } else {
            return Usage("unknown option or value: " + option + " " + value);
        }
    }
    if (options.farsend.empty()) return Usage("--farsend PATH is required");
    const CrashCampaignResult result = RunSerialCrashCampaign(options, [&](uint32_t done) {
        if (progress && (done % 20 == 0 || done == options.kills)) {
            std::cerr << done << "/" << options.kills << " runs\n";
        }
    });
    if (result.workDirectory.empty()) {
        std::cerr << "serial_crash_campaign: cannot create a working directory\n";
        return 2;
    }
    PrintCrashReport(std::cout, options, result);
    if (!result.setupError.empty()) return 2;
    return result.Clean() ? 0 : 1;
}

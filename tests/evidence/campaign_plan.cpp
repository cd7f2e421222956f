#include "evidence/campaign_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "sim/fault_rng.h"
#include "sim/sim_options.h"

namespace farsend::evidence {

namespace {

using sim::FaultRng;

// Serial bytes the host sends before the blocks (Ack, two queries, the
// programming command) and after them (EndOfData); each block costs
// BlockFollows and its 268 bytes.
constexpr uint64_t kCommandBytesAround = 5 * 4;
constexpr uint64_t kBytesPerBlock = 4 + 268;

// A probability between `low` and `high` (parts per billion), spread evenly
// over the orders of magnitude, so that rare and frequent faults both come up.
uint32_t LogUniformPpb(FaultRng& rng, double low, double high) {
    const double unit = static_cast<double>(rng.Next() >> 11) / 9007199254740992.0;
    const double value = std::exp(std::log(low) + unit * (std::log(high) - std::log(low)));
    return static_cast<uint32_t>(std::clamp(value * sim::kProbabilityScale, 1.0,
                                            static_cast<double>(sim::kProbabilityScale)));
}

// 1 to 3 runs of 1 to 6000 bytes from 0x4000 on, separated by gaps, so that
// runs end inside a block and blocks start at odd addresses.
std::vector<sim::ImageRun> GenerateImage(FaultRng& rng) {
    std::vector<sim::ImageRun> runs;
    const uint32_t count = 1 + rng.Below(3);
    uint32_t address = 0x4000 + rng.Below(4) * 0x100 + (rng.Below(4) == 0 ? rng.Below(256) : 0);
    for (uint32_t r = 0; r < count; ++r) {
        sim::ImageRun run;
        run.address = address;
        const uint32_t length = 1 + rng.Below(6000);
        run.data.resize(length);
        for (uint8_t& byte : run.data) byte = static_cast<uint8_t>(rng.Next() >> 56);
        address += length + 1 + rng.Below(0x800);
        runs.push_back(std::move(run));
    }
    return runs;
}

uint64_t SerialBytesToTarget(const std::vector<sim::ImageRun>& image) {
    uint64_t blocks = 1;  // the has-data rule may add an empty last block
    for (const sim::ImageRun& run : image) blocks += (run.data.size() + 255) / 256 + 1;
    return kCommandBytesAround + blocks * kBytesPerBlock;
}

void AddFault(std::string& faults, const std::string& fault) {
    if (!faults.empty()) faults += ',';
    faults += fault;
}

// One fault of each kind that `scenario` names; a mixed run draws two to four.
void DrawFaults(FaultRng& rng, Scenario scenario, uint64_t lineBytes, std::string& faults) {
    std::vector<Scenario> kinds;
    if (scenario == Scenario::Mixed) {
        std::vector<Scenario> all = {Scenario::Drop, Scenario::Flip, Scenario::Noise,
                                     Scenario::Silence, Scenario::Unplug};
        const uint32_t n = 2 + rng.Below(3);
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t pick = rng.Below(static_cast<uint32_t>(all.size()));
            kinds.push_back(all[pick]);
            all.erase(all.begin() + pick);
        }
        std::sort(kinds.begin(), kinds.end());
    } else {
        kinds.push_back(scenario);
    }
    // Points in the stream: anywhere from the first byte to a little past
    // the last, so that some faults come too late to matter.
    // One in eight falls within the handshake and the queries.
    const auto point = [&] {
        const uint64_t span = rng.Below(8) == 0 ? 40 : lineBytes + lineBytes / 20 + 1;
        return std::to_string(rng.Below(static_cast<uint32_t>(span)));
    };
    for (Scenario kind : kinds) {
        switch (kind) {
            case Scenario::Drop:
                AddFault(faults, "drop=" + FormatProbability(LogUniformPpb(rng, 1e-7, 3e-3)));
                break;
            case Scenario::Flip:
                AddFault(faults, "flip=" + FormatProbability(LogUniformPpb(rng, 1e-7, 3e-3)));
                break;
            case Scenario::Noise:
                // Per packet of the target, and there are few of them.
                AddFault(faults, "noise=" + FormatProbability(LogUniformPpb(rng, 1e-4, 0.5)));
                break;
            case Scenario::Silence:
                AddFault(faults, "silence=" + point());
                break;
            case Scenario::Unplug:
                AddFault(faults, "unplug=" + point());
                break;
            default:
                break;
        }
    }
}

Scenario DrawScenario(FaultRng& rng) {
    // Out of 100: controls 6, each single kind 14, mixes 14, the two
    // refusals 3 each.
    const uint32_t roll = rng.Below(100);
    if (roll < 6) return Scenario::None;
    if (roll < 20) return Scenario::Drop;
    if (roll < 34) return Scenario::Flip;
    if (roll < 48) return Scenario::Noise;
    if (roll < 62) return Scenario::Silence;
    if (roll < 76) return Scenario::Unplug;
    if (roll < 94) return Scenario::Mixed;
    if (roll < 97) return Scenario::WrongTarget;
    return Scenario::MalformedFile;
}

}  // namespace

const char* ScenarioName(Scenario scenario) {
    switch (scenario) {
        case Scenario::None:
            return "no faults";
        case Scenario::Drop:
            return "drop";
        case Scenario::Flip:
            return "flip";
        case Scenario::Noise:
            return "noise";
        case Scenario::Silence:
            return "silence";
        case Scenario::Unplug:
            return "unplug";
        case Scenario::Mixed:
            return "mixed";
        case Scenario::WrongTarget:
            return "wrong target";
        case Scenario::MalformedFile:
            return "malformed file";
        case Scenario::FileChanged:
            return "file changed";
    }
    return "?";
}

std::string FormatProbability(uint32_t ppb) {
    if (ppb >= sim::kProbabilityScale) return "1";
    char text[16];
    std::snprintf(text, sizeof text, "0.%09u", static_cast<unsigned>(ppb));
    std::string result = text;
    while (result.size() > 3 && result.back() == '0') result.pop_back();
    return result;
}

size_t RunPlan::ImageBytes() const {
    size_t bytes = 0;
    for (const sim::ImageRun& run : image) bytes += run.data.size();
    return bytes;
}

std::string RunPlan::ImageText() const {
    return sim::FormatImage(image) + malformedTail;
}

std::string RunPlan::ReplacementText() const {
    return sim::FormatImage(replacement);
}

std::string ReportPath(const std::string& flashOutPath) {
    return (std::filesystem::path(flashOutPath).parent_path() / "units.jsonl").string();
}

std::vector<std::string> RunPlan::Arguments(const std::string& imagePath,
                                            const std::string& flashOutPath) const {
    std::vector<std::string> words = {"--simulate", "--quiet"};
    words.push_back("--sim-seed=" + std::to_string(simSeed));
    if (!faults.empty()) words.push_back("--sim-faults=" + faults);
    words.push_back("--sim-baud=" + std::to_string(baud));
    words.push_back("--sim-report-length=" + std::to_string(reportLength));
    if (legacyHid) words.push_back("--sim-legacy-hid");
    words.push_back("--sim-erase-blocks=" + std::to_string(eraseBlocks));
    words.push_back("--sim-flash-out=" + flashOutPath);
    if (factory) words.push_back("--factory");
    if (noValidate) words.push_back("--no-validate");
    if (fileChange != FileChange::None) {
        words.push_back("--report");
        words.push_back(ReportPath(flashOutPath));
    }
    words.push_back("program");
    words.push_back(imagePath);
    return words;
}

std::string RunPlan::CommandLine(const std::string& imagePath,
                                 const std::string& flashOutPath) const {
    std::string line = "farsend";
    for (const std::string& word : Arguments(imagePath, flashOutPath)) line += " " + word;
    return line;
}

RunPlan PlanRun(uint64_t campaignSeed, uint32_t index) {
    // Each run has a stream of its own, so adding runs never changes the
    // earlier ones.
    FaultRng seeder(campaignSeed);
    FaultRng rng(seeder.Next() ^ (0xD1B54A32D192ED03ull * (uint64_t{index} + 1)));
    RunPlan plan;
    plan.index = index;
    plan.scenario = DrawScenario(rng);
    plan.image = GenerateImage(rng);
    plan.simSeed = 1 + (rng.Next() >> 33);

    // Not slower: a 28-byte query reply must arrive within the eleven 1 ms
    // polls that follow the query, which takes some 30 kbaud.
    static const uint32_t kBauds[] = {0, 57600, 115200, 115200, 921600};
    plan.baud = kBauds[rng.Below(5)];
    static const uint32_t kReportLengths[] = {9, 33, 65, 65};
    plan.reportLength = kReportLengths[rng.Below(4)];
    plan.legacyHid = rng.Below(10) == 0;
    plan.eraseBlocks = 1 + rng.Below(32);
    plan.factory = rng.Below(4) == 0;
    plan.noValidate = rng.Below(4) == 0;
    // The simulated target reports Bluetooth 1.5.0 unless told otherwise.
    plan.fileName = plan.factory ? "Farsend_15_bt_f.hex" : "Farsend_15_bt.hex";

    if (plan.scenario == Scenario::WrongTarget) {
        plan.fileName = plan.factory ? "Farsend_20_802_f.hex" : "Farsend_20_802.hex";
        plan.noValidate = false;  // only validation can refuse it
    } else if (plan.scenario == Scenario::MalformedFile) {
        // Found by the check of the whole file before the target is touched.
        plan.malformedTail = rng.Below(2) == 0 ? "\r\n0x12\r\n" : "\r\n00000100 AA\r\n";
    } else if (plan.scenario != Scenario::None) {
        DrawFaults(rng, plan.scenario, SerialBytesToTarget(plan.image), plan.faults);
    }
    // Drawn last, so that the other runs stay what they were before this
    // kind of run existed: one in ten of the runs that need not fail.
    if (!plan.MustFail() && rng.Below(10) == 0) {
        plan.scenario = Scenario::FileChanged;
        plan.faults.clear();
        plan.changeAfterMs = rng.Below(300);
        if (rng.Below(2) == 0) {
            plan.fileChange = FileChange::Rewrite;
            plan.replacement = GenerateImage(rng);
        } else {
            plan.fileChange = FileChange::Truncate;
            plan.truncateTo = rng.Below(static_cast<uint32_t>(plan.ImageText().size()));
        }
    }
    return plan;
}

namespace {

// A faulty station's scenario: each fault kind alike, a mix as often, and
// one in ten a target the file is not for.
Scenario DrawStationScenario(sim::FaultRng& rng) {
    const uint32_t roll = rng.Below(70);
    if (roll < 7) return Scenario::WrongTarget;
    static const Scenario kKinds[] = {Scenario::Drop,    Scenario::Flip,   Scenario::Noise,
                                      Scenario::Silence, Scenario::Unplug, Scenario::Mixed};
    return kKinds[(roll - 7) * 6 / 63];
}

}  // namespace

bool GangPlan::AnyFaulty() const {
    return std::any_of(stations.begin(), stations.end(),
                       [](const GangStation& station) { return !station.Clean(); });
}

std::string GangPlan::ImageText() const {
    return sim::FormatImage(image);
}

std::vector<std::string> GangPlan::Arguments(const std::string& imagePath,
                                             const std::string& flashOutPath,
                                             const std::string& reportPath) const {
    std::vector<std::string> words = {"--simulate", "--quiet"};
    words.push_back("--sim-bridges=" + std::to_string(stations.size()));
    words.push_back("--sim-seed=" + std::to_string(simSeed));
    for (size_t k = 0; k < stations.size(); ++k) {
        const std::string bridge = std::to_string(k + 1) + ":";
        if (!stations[k].faults.empty()) {
            words.push_back("--sim-faults=" + bridge + stations[k].faults);
        }
        if (stations[k].scenario == Scenario::WrongTarget) {
            words.push_back("--sim-variant=" + bridge + "ZigBee");
        }
    }
    words.push_back("--sim-baud=" + std::to_string(baud));
    words.push_back("--sim-report-length=" + std::to_string(reportLength));
    if (legacyHid) words.push_back("--sim-legacy-hid");
    words.push_back("--sim-erase-blocks=" + std::to_string(eraseBlocks));
    words.push_back("--sim-flash-out=" + flashOutPath);
    if (factory) words.push_back("--factory");
    if (noValidate) words.push_back("--no-validate");
    words.push_back("--report");
    words.push_back(reportPath);
    words.push_back("program");
    words.push_back("--all");
    words.push_back(imagePath);
    return words;
}

std::string GangPlan::CommandLine(const std::string& imagePath, const std::string& flashOutPath,
                                  const std::string& reportPath) const {
    std::string line = "farsend";
    for (const std::string& word : Arguments(imagePath, flashOutPath, reportPath)) {
        line += " " + word;
    }
    return line;
}

GangPlan PlanGangRun(uint64_t campaignSeed, uint32_t index) {
    FaultRng seeder(campaignSeed ^ 0x6A09E667F3BCC909ull);
    FaultRng rng(seeder.Next() ^ (0x9E3779B97F4A7C15ull * (uint64_t{index} + 1)));
    GangPlan plan;
    plan.index = index;
    plan.image = GenerateImage(rng);
    plan.simSeed = 1 + (rng.Next() >> 33);
    static const uint32_t kBauds[] = {0, 57600, 115200, 115200, 921600};
    plan.baud = kBauds[rng.Below(5)];
    static const uint32_t kReportLengths[] = {9, 33, 65, 65};
    plan.reportLength = kReportLengths[rng.Below(4)];
    plan.legacyHid = rng.Below(10) == 0;
    plan.eraseBlocks = 1 + rng.Below(32);
    plan.factory = rng.Below(4) == 0;
    plan.noValidate = rng.Below(4) == 0;
    plan.fileName = plan.factory ? "Farsend_15_bt_f.hex" : "Farsend_15_bt.hex";

    const uint32_t count = 2 + rng.Below(3);
    plan.stations.resize(count);
    // One gang in twenty is a control, all clean; the others have at least
    // one faulty station and at least one clean one.
    if (rng.Below(20) == 0) return plan;
    const uint32_t faulty = 1 + rng.Below(count - 1);
    std::vector<uint32_t> order(count);
    for (uint32_t k = 0; k < count; ++k) order[k] = k;
    for (uint32_t k = count - 1; k > 0; --k) std::swap(order[k], order[rng.Below(k + 1)]);
    const uint64_t lineBytes = SerialBytesToTarget(plan.image);
    for (uint32_t n = 0; n < faulty; ++n) {
        GangStation& station = plan.stations[order[n]];
        station.scenario = DrawStationScenario(rng);
        if (station.scenario == Scenario::WrongTarget) {
            plan.noValidate = false;  // only validation can refuse it
        } else {
            DrawFaults(rng, station.scenario, lineBytes, station.faults);
        }
    }
    return plan;
}

}  // namespace farsend::evidence

// What one run of the fault campaign does, derived from the campaign's seed
// and the run's number alone: the same campaign seed gives the same runs on
// every machine, so a run that went wrong can be repeated on its own.
//
// Each run programs a generated image into the simulated target through the
// farsend process, with a scenario of faults on the serial line: none (a
// control), bytes dropped, bits flipped, noise before the target's packets,
// the target falling silent or the bridge unplugged after a random number of
// bytes, or a mix. Line speed, report length, framing, erase length, the
// programming mode and validation vary too. A few runs carry a file that
// must be refused (another target's name, or a malformed file), and a few
// have their firmware file rewritten or cut short, in place, while they run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sample_firmware.h"

namespace farsend::evidence {

enum class Scenario {
    None,
    Drop,
    Flip,
    Noise,
    Silence,
    Unplug,
    Mixed,
    WrongTarget,    // the file's name is for another target: must end in 4
    MalformedFile,  // the file breaks the format: must end in 3
    // The firmware file is rewritten or cut short, in place, during the run;
    // no faults on the line.
    FileChanged,
};
constexpr int kScenarioCount = 10;

enum class FileChange {
    None,
    Rewrite,   // truncated, then another image written into it in one write
    Truncate,  // cut short to a length
};

const char* ScenarioName(Scenario scenario);

struct RunPlan {
    uint32_t index = 0;
    Scenario scenario = Scenario::None;
    std::vector<sim::ImageRun> image;
    std::string fileName;  // a name validation accepts for the target, or not
    // Text appended to the image file (WrongTarget/MalformedFile aside, empty).
    std::string malformedTail;
    // --sim-faults (empty: no faults).
    std::string faults;
    uint64_t simSeed = 1;
    uint32_t baud = 0;
    uint32_t reportLength = 65;
    bool legacyHid = false;
    uint32_t eraseBlocks = 16;
    bool factory = false;
    bool noValidate = false;
    // FileChanged: what happens to the file, and when (real time after the
    // program starts: the moment falls before, during or after the job).
    FileChange fileChange = FileChange::None;
    std::vector<sim::ImageRun> replacement;  // Rewrite: the image written
    size_t truncateTo = 0;                   // Truncate: the length left
    uint32_t changeAfterMs = 0;

    // Bytes the image carries.
    size_t ImageBytes() const;
    // Whether the run must fail whatever the line does.
    bool MustFail() const {
        return scenario == Scenario::WrongTarget || scenario == Scenario::MalformedFile;
    }
    // The file's text as the run starts, and (Rewrite) as it is rewritten.
    std::string ImageText() const;
    std::string ReplacementText() const;
    // The farsend words after the program's name; `imagePath` and
    // `flashOutPath` are where the run keeps its files. A FileChanged run
    // keeps a --report beside its flash-out file (ReportPath).
    std::vector<std::string> Arguments(const std::string& imagePath,
                                       const std::string& flashOutPath) const;
    // The farsend command line as one line a reader can paste.
    std::string CommandLine(const std::string& imagePath, const std::string& flashOutPath) const;
};

// The --report file of a FileChanged run.
std::string ReportPath(const std::string& flashOutPath);

// Run `index` of the campaign `campaignSeed`.
RunPlan PlanRun(uint64_t campaignSeed, uint32_t index);

// A gang run: 2 to 4 stations programmed by one farsend process
// (--sim-bridges=N program --all), each on a bridge of its own. Some of the
// stations have faults on their line (--sim-faults=K:LIST) or a target the
// file is not for (--sim-variant=K:ZigBee); the others are left clean, so
// that a fault which leaks into another station's job shows as that clean
// station failing. Image, line speed, framing and mode are the gang's.
struct GangStation {
    // None (a clean station), one of the fault kinds, Mixed, or
    // WrongTarget (its target reports ZigBee: it must be refused with 4).
    Scenario scenario = Scenario::None;
    std::string faults;  // this bridge's fault list (empty: none)

    bool Clean() const { return scenario == Scenario::None; }
};

struct GangPlan {
    uint32_t index = 0;
    std::vector<sim::ImageRun> image;
    std::string fileName;
    std::vector<GangStation> stations;  // bridge K is stations[K - 1]
    uint64_t simSeed = 1;
    uint32_t baud = 0;
    uint32_t reportLength = 65;
    bool legacyHid = false;
    uint32_t eraseBlocks = 16;
    bool factory = false;
    bool noValidate = false;

    // Whether any station has faults on its line or the wrong target.
    bool AnyFaulty() const;
    std::string ImageText() const;
    // The farsend words; the stations' records go to `reportPath`, bridge
    // K's flash to sim::BridgeFileName(flashOutPath, K, stations).
    std::vector<std::string> Arguments(const std::string& imagePath,
                                       const std::string& flashOutPath,
                                       const std::string& reportPath) const;
    std::string CommandLine(const std::string& imagePath, const std::string& flashOutPath,
                            const std::string& reportPath) const;
};

// Gang run `index` of the campaign `campaignSeed` (a stream apart from the
// single runs': gang run 5 and run 5 of a seed are unrelated).
GangPlan PlanGangRun(uint64_t campaignSeed, uint32_t index);

// A probability in parts per billion as --sim-faults writes it ("0.000012").
std::string FormatProbability(uint32_t ppb);

}  // namespace farsend::evidence

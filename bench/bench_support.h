// What the benchmarks share: clocks for wall and CPU time, the firmware
// images they program, and the row each prints for scripts/bench.sh
// ("ROW|what|measured|target|verdict").
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/fault_rng.h"
#include "sim/sample_firmware.h"

namespace farsend::bench {

inline double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// CPU time of the whole process, every thread included.
inline double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// One run of `bytes` pseudo-random bytes from 0x4000 on: what a programming
// run of that size sends, block after full block.
inline std::vector<sim::ImageRun> ContiguousImage(size_t bytes) {
    sim::FaultRng random(0x46415253);
    sim::ImageRun run;
    run.address = 0x4000;
    run.data.resize(bytes);
    for (uint8_t& byte : run.data) byte = static_cast<uint8_t>(random.Next() >> 56);
    return {run};
}

// A fresh folder under the system's temporary directory.
inline std::filesystem::path MakeBenchDirectory(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      (name + "-" + std::to_string(static_cast<long>(::getpid())));
    std::filesystem::create_directories(dir);
    return dir;
}

// farsend records every unit it programs in the unit database of the user's
// data folder. A benchmark's farsend runs record into a folder of their own
// under `dir` instead, which goes when `dir` is removed; the database they
// open is then a fresh one, as on a new station.
inline void RecordUnitsUnder(const std::filesystem::path& dir) {
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
}

inline void PrintRow(const std::string& what, const std::string& measured,
                     const std::string& target, bool met) {
    std::printf("ROW|%s|%s|%s|%s\n", what.c_str(), measured.c_str(), target.c_str(),
                met ? "met" : "NOT MET");
}

inline std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace farsend::bench

// What recording costs a station per unit: StartUnit with a pool (the unit's
// row and its serial number, in one transaction) and FinishUnit, one unit
// after another, as a station records them.
//   bench_unit_recording [--units N] [--sqlite FILE] [--postgresql URL]
// Without --sqlite, an SQLite file in a fresh folder under the temporary
// directory (on its file system, with the engine's default durability);
// without --postgresql, no PostgreSQL figure. scripts/bench.sh starts a
// PostgreSQL 15 server on a Unix socket for it (scripts/pg-test-server.sh).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "units/unit_database.h"

using namespace farsend;

namespace {

constexpr int kWarmUp = 10;  // first statements prepare, caches fill

struct Figures {
    double mean_ms = 0;
    double median_ms = 0;
    double p99_ms = 0;
    double max_ms = 0;
};

units::UnitStart StartOf(int n) {
    units::UnitStart start;
    start.start = std::chrono::system_clock::now();
    start.station = "sim-usb-1.4";
    start.bridgeSerial = "SIM00001";
    start.file = "/srv/firmware/Farsend_15_bt.hex";
    start.sha256 = std::string(64, static_cast<char>('a' + n % 6));
    return start;
}

units::UnitFinish FinishOf() {
    units::UnitFinish finish;
    finish.end = std::chrono::system_clock::now();
    finish.variant = "Bluetooth";
    finish.version = "1.5.0";
    finish.blocks = 512;
    finish.bytes = 131072;
    finish.seconds = 13.5;
    finish.result = units::UnitResult::Programmed;
    finish.message = "programmed";
    return finish;
}

// Records `units` units (after a few unmeasured ones) and returns the time
// each took, start to finish of the two calls.
Figures Measure(const std::string& location, int units) {
    auto db = units::UnitDatabase::Open(location);
    const std::string pool = "bench-" + std::to_string(static_cast<long>(::getpid()));
    db->CreatePool(pool, 1000000);
    std::vector<double> ms;
    for (int n = 0; n < kWarmUp + units; ++n) {
        const units::UnitStart start = StartOf(n);
        const double t0 = bench::WallSeconds();
        const units::StartedUnit unit = db->StartUnit(start, pool);
        db->FinishUnit(unit.id, FinishOf());
        const double t1 = bench::WallSeconds();
        if (!unit.serial) throw std::runtime_error("the pool gave no number");
        if (n >= kWarmUp) ms.push_back((t1 - t0) * 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    Figures f;
    for (double v : ms) f.mean_ms += v;
    f.mean_ms /= static_cast<double>(ms.size());
    f.median_ms = ms[ms.size() / 2];
    f.p99_ms = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    f.max_ms = ms.back();
    return f;
}

void Report(const char* engine, const Figures& f, int units, double goal_ms) {
    std::printf(
        "%s: %d units, per unit (StartUnit with a pool + FinishUnit): mean %.2f ms, median %.2f "
        "ms, 99th percentile %.2f ms, max %.2f ms\n",
        engine, units, f.mean_ms, f.median_ms, f.p99_ms, f.max_ms);
    bench::PrintRow(std::string("recording a unit, ") + engine + " (mean of " +
                        std::to_string(units) + "; 99th percentile " +
                        bench::Format("%.2f", f.p99_ms) + " ms)",
                    bench::Format("%.2f ms", f.mean_ms), bench::Format("<= %.0f ms", goal_ms),
                    f.mean_ms <= goal_ms);
}

}  // namespace

int main(int argc, char** argv) {
    int units = 500;
    std::string sqlite;
    std::string postgresql;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--units") {
            units = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--sqlite") {
            sqlite = argv[i + 1];
        } else if (option == "--postgresql") {
            postgresql = argv[i + 1];
        } else {
            std::fprintf(stderr,
                         "usage: bench_unit_recording [--units N] [--sqlite FILE] "
                         "[--postgresql URL]\n");
            return 2;
        }
    }
    std::filesystem::path folder;
    if (sqlite.empty()) {
        folder = bench::MakeBenchDirectory("farsend-bench-units");
        sqlite = (folder / "units.sqlite").string();
    }
    try {
        Report("SQLite file", Measure(sqlite, units), units, 5.0);
        if (!postgresql.empty()) {
            Report("PostgreSQL 15, Unix socket", Measure(postgresql, units), units, 20.0);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_unit_recording: %s\n", error.what());
        return 1;
    }
    if (!folder.empty()) std::filesystem::remove_all(folder);
    return 0;
}

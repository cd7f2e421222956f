// Several farsend processes, two stations each, serialize 100 units at once
// against one unit database: 100 distinct numbers, each unit's row holds its
// own, and every target's flash (--sim-flash-dir) is the image with its
// unit's number at its place and nothing else changed. Simulated time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "evidence/child_process.h"
#include "evidence/serial_judge.h"
#include "sim/sample_firmware.h"
#include "units/database_fixture.h"
#include "units/unit_database.h"

namespace farsend::evidence {
namespace {

namespace fs = std::filesystem;
using units::Engine;

constexpr int64_t kFirst = 500;
constexpr size_t kUnits = 100;

// One process: its stations, their targets and its --count.
struct Process {
    uint32_t targets;
    uint32_t count;
};

struct ConcurrencyCase {
    Engine engine;
    std::string place;  // --serial
    std::vector<Process> processes;
};

// 4 KB from 0x4000: many units stay quick.
std::vector<sim::ImageRun> SmallImage() {
    sim::ImageRun run;
    run.address = 0x4000;
    for (int i = 0; i < 4096; ++i) run.data.push_back(static_cast<uint8_t>(i * 5 + (i >> 8)));
    return {run};
}

void RunConcurrently(const ConcurrencyCase& c) {
    farsend::testing::FreshDatabase fresh(c.engine);
    std::string error;
    const std::string db = fresh.Create(error);
    ASSERT_FALSE(db.empty()) << error;
    const fs::path dir = fresh.directory().path();
    const std::string image = (dir / "Farsend_15_bt.hex").string();
    ASSERT_TRUE(sim::WriteImageFile(image, SmallImage(), &error)) << error;
    const std::string flashes = (dir / "flash").string();

    const ChildResult init = RunChild(
        FARSEND_CLI_EXE, {"serials", "init", "line", "--first", std::to_string(kFirst), "--db", db},
        dir.string(), std::chrono::seconds(60));
    ASSERT_EQ(init.exitStatus, 0) << init.err;

    std::vector<ChildResult> results(c.processes.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < c.processes.size(); ++i) {
        const fs::path work = dir / ("process-" + std::to_string(i + 1));
        fs::create_directories(work);
        const std::vector<std::string> words = {
            "--simulate",
            "--sim-bridges=2",
            "--sim-targets=" + std::to_string(c.processes[i].targets),
            "--sim-flash-dir=" + flashes,
            "watch",
            "--all",
            "--quiet",
            "--count",
            std::to_string(c.processes[i].count),
            "--serial",
            c.place,
            "--serial-pool",
            "line",
            "--db",
            db,
            image};
        threads.emplace_back([&results, i, words, work] {
            results[i] = RunChild(FARSEND_CLI_EXE, words, work.string(), std::chrono::seconds(300));
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].end, ChildEnd::Exited) << "process " << i + 1;
        EXPECT_EQ(results[i].exitStatus, 0) << "process " << i + 1 << ": " << results[i].err;
    }

    const std::vector<units::UnitRow> rows = units::UnitDatabase::Open(db)->ListUnits();
    const std::map<std::string, ByteMap> flashed = ReadFlashFolder(flashes, error);
    EXPECT_EQ(error, "");
    const std::optional<ByteMap> imageBytes = ReadByteMap(image, error);
    ASSERT_TRUE(imageBytes) << error;
    const std::optional<SerialPlace> place = ParseSerialPlace(c.place);
    ASSERT_TRUE(place);
    const SerialVerdict verdict = JudgeSerialRuns(rows, flashed, *imageBytes, *place);
    EXPECT_THAT(verdict.violations, ::testing::IsEmpty());
    EXPECT_EQ(verdict.rows, kUnits);
    EXPECT_EQ(verdict.programmedRows, kUnits);
    EXPECT_EQ(verdict.flashesWithNumber, kUnits);
    std::vector<int64_t> expected;
    for (int64_t n = kFirst; n < kFirst + static_cast<int64_t>(kUnits); ++n) expected.push_back(n);
    EXPECT_EQ(verdict.numbers, expected);  // distinct, and none skipped
}

// 26 + 26 + 24 + 24 units; the number straddles the first two blocks.
TEST(SerialConcurrency, FourProcessesOfTwoStationsOnOnePostgreSQLServer) {
    RunConcurrently({Engine::PostgreSQL, "0x40FE:4:be", {{13, 26}, {13, 26}, {12, 24}, {12, 24}}});
}

TEST(SerialConcurrency, TwoProcessesOfTwoStationsOnOneSQLiteFile) {
    RunConcurrently({Engine::SQLite, "0x4123:8:dec", {{25, 50}, {25, 50}}});
}

}  // namespace
}  // namespace farsend::evidence

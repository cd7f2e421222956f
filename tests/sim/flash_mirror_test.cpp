// --sim-flash-dir: every target's flash as a file of its own, rewritten as
// each block is stored, never seen torn by a reader.
#include "sim/flash_mirror.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "sim/sim_bridge.h"
#include "sim/simulation.h"
#include "sim/target_test_support.h"
#include "support/temp_directory.h"

namespace farsend::sim {
namespace {

using namespace farsend::sim::testing;
namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// Every file in `folder`, by name.
std::map<std::string, std::string> FilesIn(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = ReadWhole(entry.path());
    }
    return files;
}

std::string FileOf(uint32_t bridge, uint32_t target) {
    return FlashMirrorFileName(SimBridge::LocationOf(bridge), ProcessTag(), target);
}

// One step of a target's life, and what its flash holds afterwards.
struct Step {
    enum Kind { Program, Block, End } kind;
    uint32_t base;
    Bytes data;
};
const Step kProgram{Step::Program, 0, {}};
const Step kEnd{Step::End, 0, {}};

struct MirrorCase {
    const char* name;
    uint32_t bridge;
    uint32_t targets;
    std::vector<Step> steps;
    // After the last step: each target's flash, by target number.
    std::map<uint32_t, FlashContents> expected;
};

FlashContents At(uint32_t base, const Bytes& data, FlashContents into = {}) {
    for (size_t i = 0; i < data.size(); ++i) into[base + static_cast<uint32_t>(i)] = data[i];
    return into;
}

TEST(FlashMirror, EveryTargetHasItsFileAndItHoldsTheFlashAfterEveryStep) {
    const Bytes a = Counting(256, 0x00);
    const Bytes b = Counting(100, 0x80);
    const Bytes c = Counting(17, 0x40);
    const std::vector<MirrorCase> cases = {
        {"rising blocks grow the file",
         1,
         1,
         {kProgram, {Step::Block, 0x4000, a}, {Step::Block, 0x4100, b}},
         {{1, At(0x4100, b, At(0x4000, a))}}},
        {"a block below the others is sorted in",
         2,
         1,
         {kProgram, {Step::Block, 0x4100, b}, {Step::Block, 0x4000, a}},
         {{1, At(0x4100, b, At(0x4000, a))}}},
        {"a block over stored bytes replaces them",
         1,
         1,
         {kProgram, {Step::Block, 0x4000, a}, {Step::Block, 0x4010, c}},
         {{1, At(0x4010, c, At(0x4000, a))}}},
        {"a block at the top of the range wraps to address 0",
         3,
         1,
         {kProgram, {Step::Block, 0xFFFFFFF8, c}},
         {{1, At(0xFFFFFFF8, c)}}},
        {"a second programming command erases the file",
         1,
         1,
         {kProgram, {Step::Block, 0x4000, a}, kProgram, {Step::Block, 0x5000, c}},
         {{1, At(0x5000, c)}}},
        {"each target its own file, earlier ones kept",
         1,
         3,
         {kProgram,
          {Step::Block, 0x4000, a},
          kEnd,
          kProgram,
          {Step::Block, 0x4000, b},
          kEnd,
          kProgram},
         {{1, At(0x4000, a)}, {2, At(0x4000, b)}, {3, {}}}},
    };
    for (const MirrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        farsend::testing::TempDirectory dir;
        SimOptions options = Simulating();
        options.flash_dir = dir.path().string();
        options.bridge_number = c.bridge;
        options.targets = c.targets;
        TargetDriver d(options);
        int64_t t = kT0;
        d.Connect(t);
        uint32_t target = 1;
        FlashContents flash;
        for (const Step& step : c.steps) {
            t += 1;
            if (step.kind == Step::Program) {
                d.Exchange(kProgramApplication, t);
                flash.clear();
            } else if (step.kind == Step::Block) {
                ASSERT_EQ(d.Exchange(kBlockFollows, t), kProgramApplicationAck);
                ASSERT_EQ(d.Exchange(Block(step.base, step.data), t), kProgramApplicationAck);
                flash = At(step.base, step.data, flash);
            } else {
                d.Exchange(kEndOfData, t);
                t += kNextTargetDelay.count();
                d.Connect(t);
                ++target;
                flash.clear();
            }
            // The file is up to date at every step, not only at the end.
            EXPECT_EQ(ReadWhole(dir.path() / FileOf(c.bridge, target)), FormatFlashFile(flash));
        }
        std::map<std::string, std::string> expected;
        for (const auto& [number, contents] : c.expected) {
            expected[FileOf(c.bridge, number)] = FormatFlashFile(contents);
        }
        EXPECT_EQ(FilesIn(dir.path()), expected);  // no temporary file left behind
        std::string error;
        EXPECT_TRUE(d.target.FlashDirOk(error)) << error;
    }
}

// A reader polling the file while blocks are stored must only ever find the
// flash as it was after some whole number of blocks.
TEST(FlashMirror, AReaderNeverFindsATornFile) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows cannot replace a file that a reader holds open";
#endif
    farsend::testing::TempDirectory dir;
    SimOptions options = Simulating();
    options.flash_dir = dir.path().string();
    TargetDriver d(options);
    d.Connect();
    d.Exchange(kProgramApplication, kT0 + 1);

    constexpr int kBlocks = 300;
    std::set<std::string> states = {""};
    FlashContents flash;
    for (int i = 0; i < kBlocks; ++i) {
        flash = At(0x4000 + 256 * static_cast<uint32_t>(i), Counting(256, static_cast<uint8_t>(i)),
                   flash);
        states.insert(FormatFlashFile(flash));
    }

    const fs::path file = dir.path() / FileOf(1, 1);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            if (!fs::exists(file)) continue;
            if (states.count(ReadWhole(file)) == 0) torn.fetch_add(1);
            reads.fetch_add(1);
        }
    });
    for (int i = 0; i < kBlocks; ++i) {
        const uint32_t base = 0x4000 + 256 * static_cast<uint32_t>(i);
        d.Exchange(kBlockFollows, kT0 + 2 + i);
        d.Exchange(Block(base, Counting(256, static_cast<uint8_t>(i))), kT0 + 2 + i);
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(ReadWhole(file), FormatFlashFile(flash));
}

struct FolderCase {
    const char* name;
    std::function<fs::path(const farsend::testing::TempDirectory&)> folder;
    bool created;  // else refused, naming the option
};

TEST(FlashMirror, TheFolderIsMadeAtTheStartOrRefused) {
    const std::vector<FolderCase> cases = {
        {"an existing folder", [](const auto& dir) { return dir.path(); }, true},
        {"missing folders are made", [](const auto& dir) { return dir.path() / "a" / "b"; }, true},
        {"a file in the way", [](const auto& dir) { return dir.Touch("flash"); }, false},
        {"below a file", [](const auto& dir) { return dir.Touch("flash") / "x"; }, false},
    };
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        farsend::testing::TempDirectory dir;
        SimOptions options = Simulating();
        options.flash_dir = c.folder(dir).string();
        std::string error;
        const auto simulation = Simulation::Create(options, error);
        EXPECT_EQ(simulation != nullptr, c.created) << error;
        if (c.created) {
            EXPECT_TRUE(fs::is_directory(options.flash_dir));
        } else {
            EXPECT_EQ(error.rfind("--sim-flash-dir: cannot make the folder ", 0), 0u) << error;
        }
    }
}

// A folder that goes away during the run is heard of at the end.
TEST(FlashMirror, AFileThatCannotBeWrittenIsReportedAtTheEnd) {
    farsend::testing::TempDirectory dir;
    SimOptions options = Simulating();
    options.flash_dir = (dir.path() / "flash").string();
    std::string error;
    auto simulation = Simulation::Create(options, error);
    ASSERT_NE(simulation, nullptr) << error;
    fs::remove_all(options.flash_dir);
    std::vector<uint8_t> out;
    simulation->Target().OnBridgeOpened(Millis(kT0));
    simulation->Target().CollectTargetBytes(Millis(kT0), out);  // the target arrives
    EXPECT_FALSE(simulation->Finish(error));
    EXPECT_NE(error.find(FileOf(1, 1)), std::string::npos) << error;
}

}  // namespace
}  // namespace farsend::sim

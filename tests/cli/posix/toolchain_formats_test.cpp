// Firmware as a real toolchain makes it: gcc and a linker script build an
// ELF file with sections at separate addresses and a .bss, objcopy makes
// Intel HEX, S-records and raw binary of it, and farsend convert the token
// file. All of them must program the same flash.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "cli/child_outputs.h"
#include "cli/process_runner.h"
#include "protocol/image_format.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using farsend::testing::ProcessResult;
using farsend::testing::RunFarsend;
using farsend::testing::RunProcess;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

constexpr const char* kSource = R"(const unsigned char table[300] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
unsigned int counter = 0x12345678;
unsigned int zeroed[64];
unsigned int entry(unsigned int x) { return table[x % 300] + counter + zeroed[x % 64]; }
)";

// .text and .rodata in flash at separate addresses; .data runs from RAM but
// is loaded into flash at 7000; .bss only in RAM.
constexpr const char* kLinkerScript = R"(MEMORY {
  FLASH (rx) : ORIGIN = 0x4000, LENGTH = 0x20000
  RAM (rw) : ORIGIN = 0x20000000, LENGTH = 0x8000
}
SECTIONS {
  .text 0x4000 : { *(.text*) } > FLASH
  .rodata 0x6000 : { *(.rodata*) } > FLASH
  .data : AT(0x7000) { *(.data*) } > RAM
  .bss (NOLOAD) : { *(.bss*) *(COMMON) } > RAM
  /DISCARD/ : { *(.comment) *(.note*) *(.eh_frame*) }
}
)";

using Contents = std::map<uint32_t, uint8_t>;

Contents ContentsOfBlocks(const std::vector<protocol::FlashBlock>& blocks) {
    Contents contents;
    for (const protocol::FlashBlock& block : blocks) {
        for (uint32_t i = 0; i < block.count; ++i) contents[block.baseAddress + i] = block.data[i];
    }
    return contents;
}

class ToolchainImages : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/gcc", "/usr/bin/ld", "/usr/bin/objcopy"}) {
            ASSERT_TRUE(fs::exists(tool)) << tool << " is missing: apt-get install gcc binutils";
        }
        std::ofstream(Path("fw.c")) << kSource;
        std::ofstream(Path("fw.ld")) << kLinkerScript;
        Tool("/usr/bin/gcc",
             {"-O1", "-ffreestanding", "-fno-pic", "-fno-asynchronous-unwind-tables", "-c",
              Path("fw.c"), "-o", Path("fw.o")});
        Tool("/usr/bin/ld",
             {"-T", Path("fw.ld"), "-nostdlib", "-z", "noexecstack", "-o", Elf(), Path("fw.o")});
        Tool("/usr/bin/objcopy", {"-O", "ihex", Elf(), Path("Farsend_15_bt.ihex")});
        Tool("/usr/bin/objcopy", {"-O", "srec", Elf(), Path("Farsend_15_bt.srec")});
        // A raw binary has no gaps: erased flash (FF) fills them.
        Tool("/usr/bin/objcopy", {"-O", "binary", "--gap-fill", "0xff", Elf(), Bin()});
        const ProcessResult convert = RunFarsend({"convert", Elf()});
        ASSERT_EQ(convert.status, 0) << convert.err;
    }

    void Tool(const std::string& tool, const std::vector<std::string>& arguments) {
        const ProcessResult run = RunProcess(tool, arguments);
        ASSERT_EQ(run.status, 0) << tool << ": " << run.err;
    }

    std::string Path(const std::string& name) const { return (temp_.path() / name).string(); }
    std::string Elf() const { return Path("Farsend_15_bt.elf"); }
    std::string Bin() const { return Path("Farsend_15_bt.bin"); }

    // The flash of a simulated target programmed with `file`.
    Contents Flash(const std::string& file, const std::vector<std::string>& extra = {}) {
        const fs::path dir = temp_.path() / ("flash-" + std::to_string(++runs_));
        fs::create_directory(dir);
        std::vector<std::string> words = {"--simulate", "--sim-flash-dir=" + dir.string(),
                                          "program", file, "--quiet"};
        words.insert(words.end(), extra.begin(), extra.end());
        const ProcessResult run = RunFarsend(words);
        EXPECT_EQ(run.status, 0) << run.err;
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
        if (files.size() != 1) {
            ADD_FAILURE() << file << ": " << files.size() << " flash files";
            return {};
        }
        return farsend::testing::ContentsOf(files[0].string());
    }

    farsend::testing::TempDirectory temp_;
    int runs_ = 0;
};

TEST_F(ToolchainImages, EveryFormatOfOneBuildGivesTheSameBlocksAndFlash) {
    protocol::ImageFormat format{};
    const auto elf = protocol::PlanProgrammingFile(Elf(), {}, &format);
    ASSERT_TRUE(elf && !elf->error);
    EXPECT_EQ(format, protocol::ImageFormat::Elf);
    const Contents image = ContentsOfBlocks(elf->blocks);
    // Three sections at their load addresses; .data's 4 bytes at 7000, not
    // at its RAM address; no .bss.
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image.begin()->first, 0x4000u);
    EXPECT_EQ(image.count(0x6000), 1u);
    EXPECT_EQ(image.at(0x6008), 9);
    EXPECT_EQ(image.at(0x7000), 0x78);
    EXPECT_EQ(image.rbegin()->first, 0x7003u);

    const struct {
        std::string name;
        protocol::ImageFormat format;
    } same[] = {{"Farsend_15_bt.ihex", protocol::ImageFormat::IntelHex},
                {"Farsend_15_bt.srec", protocol::ImageFormat::SRecord},
                {"Farsend_15_bt.hex", protocol::ImageFormat::Token}};
    for (const auto& file : same) {
        SCOPED_TRACE(file.name);
        const auto plan = protocol::PlanProgrammingFile(Path(file.name), {}, &format);
        ASSERT_TRUE(plan && !plan->error);
        EXPECT_EQ(format, file.format);
        ASSERT_EQ(plan->blocks.size(), elf->blocks.size());
        for (std::size_t i = 0; i < plan->blocks.size(); ++i) {
            EXPECT_EQ(plan->blocks[i].baseAddress, elf->blocks[i].baseAddress);
            EXPECT_EQ(plan->blocks[i].check, elf->blocks[i].check);
            EXPECT_EQ(plan->blocks[i].data, elf->blocks[i].data);
        }
        EXPECT_EQ(Flash(Path(file.name)), image);
    }
    EXPECT_EQ(Flash(Elf()), image);

    // The raw binary programs the gaps too, with what erased flash holds.
    Contents filled = image;
    for (uint32_t address = 0x4000; address <= 0x7003; ++address) filled.emplace(address, 0xFF);
    const auto bin =
        protocol::PlanProgrammingFile(Bin(), {protocol::ImageFormat::Binary, 0x4000u}, &format);
    ASSERT_TRUE(bin && !bin->error);
    EXPECT_EQ(ContentsOfBlocks(bin->blocks), filled);
    EXPECT_EQ(Flash(Bin(), {"--format", "bin", "--base", "0x4000"}), filled);
}

TEST_F(ToolchainImages, BadFilesAreStatusThreeNamingThePlaceAndTouchNoTarget) {
    std::string ihex;
    {
        std::ifstream in(Path("Farsend_15_bt.ihex"));
        std::getline(in, ihex, '\0');
    }
    ihex[ihex.find('\n') + 12] ^= 1;  // a data digit of line 2
    std::ofstream(Path("Farsend_15_bt_bad.ihex")) << ihex;
    std::ifstream in(Elf(), std::ios::binary);
    const std::string elf{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::ofstream(Path("Farsend_15_bt_cut.elf"), std::ios::binary) << elf.substr(0, 0x1010);
    const struct {
        std::vector<std::string> words;
        const char* says;
    } rows[] = {
        {{"program", Path("Farsend_15_bt_bad.ihex")}, "line 2: checksum"},
        {{"program", Path("Farsend_15_bt_cut.elf")}, "the file ends at 4112 bytes"},
        {{"program", Bin(), "--format", "bin"}, "--format bin needs --base"},
        {{"inspect", Path("Farsend_15_bt_bad.ihex")}, "Intel HEX, line 2: checksum"},
        {{"convert", Path("Farsend_15_bt_cut.elf"), Path("out.hex")}, "ELF, offset"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> words = {"--simulate", "--sim-flash-dir=" + Path("flash")};
        if (row.words[0] == "program") {
            words.insert(words.end(), row.words.begin(), row.words.end());
        } else {
            words = row.words;
        }
        const ProcessResult run = RunFarsend(words);
        const int expected =
            row.words.size() == 4 ? 2 : 3;  // a usage error for a lone --format bin
        EXPECT_EQ(run.status, expected) << row.says << ": " << run.err;
        EXPECT_THAT(run.err, HasSubstr(row.says));
    }
    EXPECT_FALSE(fs::exists(Path("out.hex")));
    // No target was programmed: the flash directory holds no flash file.
    EXPECT_TRUE(!fs::exists(Path("flash")) || fs::is_empty(Path("flash")));
}

TEST_F(ToolchainImages, ConvertWritesBackAndNeverOverwritesUnasked) {
    // Token file -> Intel HEX -> token file: the same bytes.
    ProcessResult run =
        RunFarsend({"convert", Path("Farsend_15_bt.hex"), "--to", "ihex", Path("again.ihex")});
    ASSERT_EQ(run.status, 0) << run.err;
    run = RunFarsend({"convert", Path("again.ihex"), Path("again.hex")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("not found by auto-selection"));
    EXPECT_EQ(farsend::testing::ContentsOf(Path("again.hex")),
              farsend::testing::ContentsOf(Path("Farsend_15_bt.hex")));

    const std::string before = std::to_string(fs::file_size(Path("again.hex")));
    run = RunFarsend({"convert", Elf(), Path("again.hex")});
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("exists"));
    EXPECT_EQ(std::to_string(fs::file_size(Path("again.hex"))), before);
    run = RunFarsend({"convert", Path("again.hex"), Path("again.hex"), "--force"});
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("is the file being read"));
}

}  // namespace
}  // namespace farsend::cli

// inspect FILE: the blocks that programming FILE would send, read by the same
// reader the programming job uses, without a target.
#include <algorithm>
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/format_hint.h"
#include "cli/unit_record.h"
#include "firmware/platform_paths.h"
#include "protocol/image_file.h"

namespace farsend::cli {
namespace {

std::string HexBytes(const protocol::FlashBlock& block) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    const std::uint32_t count = std::min<std::uint32_t>(block.count, protocol::kFlashBlockDataSize);
    text.reserve(count * 2);
    for (std::uint32_t i = 0; i < count; ++i) {
        text += kDigits[block.data[i] >> 4];
        text += kDigits[block.data[i] & 0x0F];
    }
    return text;
}

std::uint64_t DataBytes(const protocol::ProgrammingPlan& plan) {
    std::uint64_t bytes = 0;
    for (const protocol::FlashBlock& block : plan.blocks) bytes += block.count;
    return bytes;
}

}  // namespace

nlohmann::ordered_json InspectJson(const std::string& file, const protocol::ProgrammingPlan& plan) {
    nlohmann::ordered_json result = nlohmann::ordered_json::object();
    result["file"] = JsonPathText(file);
    nlohmann::ordered_json blocks = nlohmann::ordered_json::array();
    for (const protocol::FlashBlock& block : plan.blocks) {
        nlohmann::ordered_json entry = nlohmann::ordered_json::object();
        entry["base"] = block.baseAddress;
        entry["count"] = block.count;
        entry["check"] = block.check;
        entry["data"] = HexBytes(block);
        blocks.push_back(std::move(entry));
    }
    result["blocks"] = std::move(blocks);
    return result;
}

int RunInspect(const CliOptions& options, Console& console) {
    const std::string& file = options.file;
    if (firmware::IsExistingDirectory(file)) {
        Complain(console, file + ": a directory, not a firmware file");
        return kExitFirmwareFile;
    }
    const std::optional<protocol::ProgrammingPlan> plan = protocol::PlanProgrammingFile(file);
    if (!plan) {
        Complain(console, file + (firmware::IsExistingRegularFile(file) ? ": cannot be read"
                                                                        : ": no such file"));
        return kExitFirmwareFile;
    }
    if (plan->error) {
        // program and watch read the whole file before touching the target.
        Complain(console, file + ": " + protocol::DescribeImageFormatError(*plan->error) +
                              FormatHint(file, *plan->error) +
                              "\nProgramming refuses this file before anything is sent. "
                              "Correct the file or choose another one.");
        return kExitFirmwareFile;
    }

    if (options.json) {
        console.out << DumpJson(InspectJson(file, *plan)) << '\n';
        return kExitSuccess;
    }
    console.out << file << ": " << plan->blocks.size() << " blocks, " << DataBytes(*plan)
                << " bytes, then EndOfData\n";
    if (options.quiet) return kExitSuccess;
    console.out << "  block  base      count  check\n";
    std::size_t index = 0;
    for (const protocol::FlashBlock& block : plan->blocks) {
        char line[80];
        std::snprintf(line, sizeof line, "  %5zu  %08X  %5u  %08X\n", ++index,
                      static_cast<unsigned>(block.baseAddress), static_cast<unsigned>(block.count),
                      static_cast<unsigned>(block.check));
        console.out << line;
    }
    return kExitSuccess;
}

}  // namespace farsend::cli

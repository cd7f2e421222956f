// inspect FILE: the blocks that programming FILE would send, read by the same
// reader the programming job uses, without a target. With --serial, as they
// would go out for one unit's serial number.
#include <algorithm>
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/format_hint.h"
#include "firmware/platform_paths.h"
#include "protocol/image_file.h"
#include "protocol/image_format.h"
#include "units/record/unit_json.h"

namespace farsend::cli {
namespace {

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::string HexBytes(const protocol::FlashBlock& block) {
    return HexBytes(block.data.data(),
                    std::min<std::uint32_t>(block.count, protocol::kFlashBlockDataSize));
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    return HexBytes(bytes.data(), bytes.size());
}

// "serial 1234 as 0x0003F000:4:le (d2040000) in block 3 (base 0003F000)".
std::string SerialLine(const InspectSerial& serial, const protocol::ProgrammingPlan& plan) {
    std::string text = "serial " + std::to_string(serial.value) + " as " +
                       protocol::SerialSpecText(serial.spec) + " (" + HexBytes(serial.stamp.bytes) +
                       ") in block";
    if (serial.stamp.touchedBlocks.size() > 1) text += "s";
    std::size_t listed = 0;
    for (std::size_t index : serial.stamp.touchedBlocks) {
        char block[48];
        std::snprintf(block, sizeof block, "%s %zu (base %08X)", listed++ == 0 ? "" : " and",
                      index + 1, static_cast<unsigned>(plan.blocks[index].baseAddress));
        text += block;
    }
    return text;
}

std::uint64_t DataBytes(const protocol::ProgrammingPlan& plan) {
    std::uint64_t bytes = 0;
    for (const protocol::FlashBlock& block : plan.blocks) bytes += block.count;
    return bytes;
}

}  // namespace

nlohmann::ordered_json InspectJson(const std::string& file, const protocol::ProgrammingPlan& plan,
                                   const InspectSerial* serial, protocol::ImageFormat format) {
    nlohmann::ordered_json result = nlohmann::ordered_json::object();
    result["file"] = units::JsonPathText(file);
    result["format"] = protocol::ImageFormatName(format);
    if (serial != nullptr) {
        nlohmann::ordered_json entry = nlohmann::ordered_json::object();
        entry["address"] = serial->spec.address;
        entry["size"] = serial->spec.size;
        entry["format"] = protocol::SerialFormatName(serial->spec.format);
        entry["value"] = serial->value;
        entry["bytes"] = HexBytes(serial->stamp.bytes);
        entry["touched_blocks"] = serial->stamp.touchedBlocks;
        result["serial"] = std::move(entry);
    }
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
    protocol::ImageFormat format = protocol::ImageFormat::Token;
    const std::optional<protocol::ProgrammingPlan> plan =
        protocol::PlanProgrammingFile(file, options.imageRead, &format);
    if (!plan) {
        Complain(console, file + (firmware::IsExistingRegularFile(file) ? ": cannot be read"
                                                                        : ": no such file"));
        return kExitFirmwareFile;
    }
    if (plan->error) {
        // program and watch read the whole file before touching the target.
        Complain(console, file + ": " + protocol::ImageFormatTitle(format) +
                              protocol::DescribeImageFormatError(*plan->error) +
                              FormatHint(file, *plan->error) +
                              "\nProgramming refuses this file before anything is sent. "
                              "Correct the file or choose another one.");
        return kExitFirmwareFile;
    }

    // The serial goes into a copy of the plan's blocks, as a run stamps them.
    protocol::ProgrammingPlan sent = *plan;
    std::optional<InspectSerial> serial;
    if (options.serial) {
        serial =
            InspectSerial{*options.serial, options.serialValue,
                          protocol::StampSerial(*options.serial, options.serialValue, sent.blocks)};
        if (!serial->stamp.ok()) {
            // The same status as an image the target cannot take: the file
            // is sound, but not for this serial number.
            const bool outside =
                serial->stamp.problem->refusal == protocol::SerialRefusal::OutsideData;
            Complain(console,
                     file + ": " + serial->stamp.problem->message + ". Nothing was stamped.\n" +
                         (outside ? "Choose a --serial address and size inside the image's "
                                    "data (inspect without --serial lists its blocks)."
                                  : "Give --serial a larger SIZE, or a smaller --serial-value."));
            return kExitDoesNotFit;
        }
    }

    if (options.json) {
        console.out << units::DumpJson(InspectJson(file, sent, serial ? &*serial : nullptr, format))
                    << '\n';
        return kExitSuccess;
    }
    console.out << file << " (" << protocol::ImageFormatName(format) << "): " << sent.blocks.size()
                << " blocks, " << DataBytes(sent) << " bytes, then EndOfData\n";
    if (serial) console.out << SerialLine(*serial, sent) << '\n';
    if (options.quiet) return kExitSuccess;
    console.out << "  block  base      count  check\n";
    std::size_t index = 0;
    for (const protocol::FlashBlock& block : sent.blocks) {
        const bool stamped = serial && std::binary_search(serial->stamp.touchedBlocks.begin(),
                                                          serial->stamp.touchedBlocks.end(), index);
        char line[80];
        std::snprintf(line, sizeof line, "  %5zu  %08X  %5u  %08X%s\n", ++index,
                      static_cast<unsigned>(block.baseAddress), static_cast<unsigned>(block.count),
                      static_cast<unsigned>(block.check), stamped ? "  serial" : "");
        console.out << line;
    }
    return kExitSuccess;
}

}  // namespace farsend::cli

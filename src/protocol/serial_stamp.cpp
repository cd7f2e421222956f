#include "protocol/serial_stamp.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <limits>

namespace farsend::protocol {
namespace {

constexpr const char* kSpecForm = "give ADDR:SIZE[:FORMAT], e.g. 0x4010:4 or 4010:10:dec";

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type end = text.find(separator, start);
        fields.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return fields;
        start = end + 1;
    }
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The whole of `text` as a number in `base`; from_chars alone would take a
// leading part ("12x") and, for signed types, a sign.
template <typename T>
std::optional<T> WholeNumber(const std::string& text, int base, bool& overflow) {
    overflow = false;
    if (text.empty()) return std::nullopt;
    T value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error == std::errc::result_out_of_range) {
        // The digits were all right; the number is too large.
        overflow = std::all_of(text.begin(), text.end(), [base](char c) {
            return base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                              : (c >= '0' && c <= '9');
        });
        return std::nullopt;
    }
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// The largest number a serial of this spec holds.
std::uint64_t LargestNumber(const SerialSpec& spec) {
    if (spec.format == SerialFormat::Decimal) {
        if (spec.size >= kMaxDecimalSerialSize) return std::numeric_limits<std::uint64_t>::max();
        std::uint64_t power = 1;
        for (std::uint32_t i = 0; i < spec.size; ++i) power *= 10;
        return power - 1;
    }
    if (spec.size >= kMaxBinarySerialSize) return std::numeric_limits<std::uint64_t>::max();
    return (std::uint64_t{1} << (8 * spec.size)) - 1;
}

struct DataRun {
    std::uint64_t start;
    std::uint64_t end;  // one past the last byte
};

// The image's data as runs of consecutive addresses, adjacent blocks joined.
std::vector<DataRun> DataRuns(const std::vector<FlashBlock>& blocks) {
    std::vector<DataRun> runs;
    for (const FlashBlock& block : blocks) {
        const std::uint64_t count = std::min<std::uint64_t>(block.count, kFlashBlockDataSize);
        if (count > 0) runs.push_back({block.baseAddress, block.baseAddress + count});
    }
    std::sort(runs.begin(), runs.end(),
              [](const DataRun& a, const DataRun& b) { return a.start < b.start; });
    std::vector<DataRun> joined;
    for (const DataRun& run : runs) {
        if (!joined.empty() && run.start <= joined.back().end) {
            joined.back().end = std::max(joined.back().end, run.end);
        } else {
            joined.push_back(run);
        }
    }
    return joined;
}

std::string RunText(const DataRun& run) {
    return Hex(run.start) + ".." + Hex(run.end - 1);
}

// "the image holds data at 0x4000..0x412B and 0x5000..0x500F".
std::string DataRunsText(const std::vector<DataRun>& runs) {
    if (runs.empty()) return "the image holds no data";
    constexpr std::size_t kListed = 4;
    if (runs.size() > kListed) {
        return "the image holds data in " + std::to_string(runs.size()) + " runs between " +
               Hex(runs.front().start) + " and " + Hex(runs.back().end - 1);
    }
    std::string text = "the image holds data at ";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i > 0) text += (i + 1 == runs.size()) ? " and " : ", ";
        text += RunText(runs[i]);
    }
    return text;
}

std::string SizeText(const SerialSpec& spec) {
    const bool one = spec.size == 1;
    if (spec.format == SerialFormat::Decimal) {
        return std::to_string(spec.size) + (one ? " decimal digit" : " decimal digits");
    }
    return std::to_string(spec.size) + (one ? " byte" : " bytes");
}

}  // namespace

const char* SerialFormatName(SerialFormat format) {
    switch (format) {
        case SerialFormat::LittleEndian:
            return "le";
        case SerialFormat::BigEndian:
            return "be";
        case SerialFormat::Decimal:
            return "dec";
    }
    return "";
}

std::string SerialSpecText(const SerialSpec& spec) {
    char text[48];
    std::snprintf(text, sizeof text, "0x%08X:%u:%s", static_cast<unsigned>(spec.address),
                  static_cast<unsigned>(spec.size), SerialFormatName(spec.format));
    return text;
}

SerialSpecResult ParseSerialSpec(const std::string& text) {
    SerialSpecResult result;
    auto fail = [&result](std::string error) {
        result.error = std::move(error);
        return result;
    };
    if (text.empty()) return fail(std::string("empty; ") + kSpecForm);
    const std::vector<std::string> fields = Split(text, ':');
    if (fields.size() < 2) return fail(std::string("no SIZE; ") + kSpecForm);
    if (fields.size() > 3) return fail(std::string("too many fields; ") + kSpecForm);

    std::string address = fields[0];
    if (address.size() > 2 && address[0] == '0' && (address[1] == 'x' || address[1] == 'X')) {
        address = address.substr(2);
    }
    bool overflow = false;
    const std::optional<std::uint64_t> addressValue =
        WholeNumber<std::uint64_t>(address, 16, overflow);
    if (!addressValue && !overflow) {
        return fail("address '" + fields[0] + "' is not a hexadecimal number");
    }
    if (overflow || *addressValue > 0xFFFFFFFFu) {
        return fail("address " + fields[0] + " is above FFFFFFFF");
    }
    result.spec.address = static_cast<std::uint32_t>(*addressValue);

    if (fields.size() == 3) {
        const std::string format = Lower(fields[2]);
        if (format == "le") {
            result.spec.format = SerialFormat::LittleEndian;
        } else if (format == "be") {
            result.spec.format = SerialFormat::BigEndian;
        } else if (format == "dec") {
            result.spec.format = SerialFormat::Decimal;
        } else {
            return fail("format '" + fields[2] + "' is none of le, be and dec");
        }
    }

    const std::optional<std::uint32_t> size = WholeNumber<std::uint32_t>(fields[1], 10, overflow);
    if (!size && !overflow) return fail("size '" + fields[1] + "' is not a decimal number");
    if (!overflow && *size == 0) return fail("size 0: a serial number has at least one byte");
    const bool decimal = result.spec.format == SerialFormat::Decimal;
    const std::uint32_t largest = decimal ? kMaxDecimalSerialSize : kMaxBinarySerialSize;
    if (overflow || *size > largest) {
        return fail("size " + fields[1] + " is too large for " +
                    SerialFormatName(result.spec.format) +
                    (decimal ? ": decimal serial numbers have 1 to 20 digits"
                             : ": binary serial numbers have 1 to 8 bytes"));
    }
    result.spec.size = *size;
    return result;
}

std::optional<std::uint64_t> ParseSerialNumber(const std::string& text) {
    bool overflow = false;
    return WholeNumber<std::uint64_t>(text, 10, overflow);
}

std::optional<SerialProblem> CheckSerialRange(const SerialSpec& spec,
                                              const std::vector<FlashBlock>& blocks) {
    const std::uint64_t first = spec.address;
    const std::uint64_t end = first + spec.size;  // 64-bit: the range may run past FFFFFFFF
    const std::vector<DataRun> runs = DataRuns(blocks);
    const std::string range = "the serial number (" + SizeText(spec) + " at " +
                              (spec.size == 1 ? Hex(first) : RunText(DataRun{first, end})) + ") ";
    auto refuse = [&range](const std::string& why) {
        return SerialProblem{SerialRefusal::OutsideData, range + why};
    };

    const auto holding = std::find_if(runs.begin(), runs.end(), [first](const DataRun& run) {
        return run.start <= first && first < run.end;
    });
    if (holding == runs.end()) {
        const bool overlaps = std::any_of(
            runs.begin(), runs.end(),
            [first, end](const DataRun& run) { return run.start < end && first < run.end; });
        return refuse(std::string(overlaps ? "begins" : "lies") + " outside the image's data (" +
                      DataRunsText(runs) + ")");
    }
    if (end <= holding->end) return std::nullopt;
    const auto next = holding + 1;
    if (next != runs.end() && next->start < end) {
        return refuse("crosses the gap in the image's data between " + Hex(holding->end - 1) +
                      " and " + Hex(next->start));
    }
    return refuse("runs past the image's data: its last byte there is at " + Hex(holding->end - 1));
}

std::optional<SerialProblem> CheckSerialFits(const SerialSpec& spec, std::uint64_t number) {
    const std::uint64_t largest = LargestNumber(spec);
    if (number <= largest) return std::nullopt;
    return SerialProblem{SerialRefusal::DoesNotFit,
                         "serial number " + std::to_string(number) + " does not fit in " +
                             SizeText(spec) + " (" + SerialFormatName(spec.format) + ": at most " +
                             std::to_string(largest) + ")"};
}

std::vector<std::uint8_t> SerialBytes(const SerialSpec& spec, std::uint64_t number) {
    if (spec.size == 0 || CheckSerialFits(spec, number)) return {};
    std::vector<std::uint8_t> bytes(spec.size, 0);
    switch (spec.format) {
        case SerialFormat::LittleEndian:
            for (std::uint32_t i = 0; i < spec.size; ++i) {
                bytes[i] = static_cast<std::uint8_t>(number >> (8 * i));
            }
            break;
        case SerialFormat::BigEndian:
            for (std::uint32_t i = 0; i < spec.size; ++i) {
                bytes[spec.size - 1 - i] = static_cast<std::uint8_t>(number >> (8 * i));
            }
            break;
        case SerialFormat::Decimal: {
            const std::string digits = std::to_string(number);
            std::fill(bytes.begin(), bytes.end(), static_cast<std::uint8_t>('0'));
            std::copy(digits.begin(), digits.end(), bytes.end() - digits.size());
            break;
        }
    }
    return bytes;
}

std::size_t StampSerialBlock(const SerialSpec& spec, const std::vector<std::uint8_t>& bytes,
                             FlashBlock& block) {
    const std::uint64_t base = block.baseAddress;
    const std::uint64_t end = base + std::min<std::uint64_t>(block.count, kFlashBlockDataSize);
    std::size_t written = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint64_t address = std::uint64_t{spec.address} + i;
        if (address < base || address >= end) continue;
        block.data[address - base] = bytes[i];
        ++written;
    }
    if (written > 0) block.check = ComputeBlockCheck(block);
    return written;
}

SerialStampResult StampSerial(const SerialSpec& spec, std::uint64_t number,
                              std::vector<FlashBlock>& blocks) {
    SerialStampResult result;
    result.problem = CheckSerialFits(spec, number);
    if (!result.problem) result.problem = CheckSerialRange(spec, blocks);
    if (result.problem) return result;
    result.bytes = SerialBytes(spec, number);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (StampSerialBlock(spec, result.bytes, blocks[i]) > 0) result.touchedBlocks.push_back(i);
    }
    return result;
}

}  // namespace farsend::protocol

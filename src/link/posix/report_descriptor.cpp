#include "link/posix/report_descriptor.h"

#include <array>

namespace farsend::link {
namespace {

// Item prefixes with the size bits masked off.
constexpr uint8_t kInput = 0x80;
constexpr uint8_t kOutput = 0x90;
constexpr uint8_t kFeature = 0xB0;
constexpr uint8_t kReportSize = 0x74;
constexpr uint8_t kReportId = 0x84;
constexpr uint8_t kReportCount = 0x94;
constexpr uint8_t kPush = 0xA4;
constexpr uint8_t kPop = 0xB4;
constexpr uint8_t kLongItem = 0xFE;

// Deeper nesting than this is not seen in real devices; refusing it keeps a
// hostile descriptor from growing the stack without bound.
constexpr size_t kMaxPushDepth = 16;
// The byte lengths must fit 16 bits after adding the report-ID byte.
constexpr uint64_t kMaxReportBits = 65534ull * 8;

struct Globals {
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint32_t reportId = 0;
};

enum Kind { kInputKind, kOutputKind, kFeatureKind, kKindCount };

struct Tally {
    std::array<std::array<uint64_t, 256>, kKindCount> bits{};
    std::array<std::array<bool, 256>, kKindCount> present{};

    uint16_t ByteLength(Kind kind) const {
        uint64_t longest = 0;
        bool any = false;
        for (size_t id = 0; id < 256; ++id) {
            if (!present[kind][id]) continue;
            any = true;
            uint64_t bytes = (bits[kind][id] + 7) / 8;
            if (bytes > longest) longest = bytes;
        }
        return any ? static_cast<uint16_t>(longest + 1) : 0;
    }
};

}  // namespace

std::optional<ReportLengths> ParseReportDescriptor(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0) return std::nullopt;

    Globals globals;
    std::array<Globals, kMaxPushDepth> stack{};
    size_t depth = 0;
    bool usesIds = false;
    Tally tally;

    size_t pos = 0;
    while (pos < size) {
        const uint8_t prefix = data[pos];
        if (prefix == kLongItem) {
            // Long item: prefix, data size, tag, data. None of them matter
            // for report lengths; skip it whole or refuse a truncated one.
            if (size - pos < 3) return std::nullopt;
            const size_t itemSize = size_t{3} + data[pos + 1];
            if (size - pos < itemSize) return std::nullopt;
            pos += itemSize;
            continue;
        }
        const size_t dataSize = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (size - pos < 1 + dataSize) return std::nullopt;
        uint32_t value = 0;
        for (size_t i = 0; i < dataSize; ++i) {
            value |= static_cast<uint32_t>(data[pos + 1 + i]) << (8 * i);
        }
        pos += 1 + dataSize;

        switch (prefix & 0xFC) {
            case kReportSize:
                globals.reportSize = value;
                break;
            case kReportCount:
                globals.reportCount = value;
                break;
            case kReportId:
                if (value == 0 || value > 255) return std::nullopt;
                globals.reportId = value;
                usesIds = true;
                break;
            case kPush:
                if (depth == kMaxPushDepth) return std::nullopt;
                stack[depth++] = globals;
                break;
            case kPop:
                if (depth == 0) return std::nullopt;
                globals = stack[--depth];
                break;
            case kInput:
            case kOutput:
            case kFeature: {
                const Kind kind = (prefix & 0xFC) == kInput    ? kInputKind
                                  : (prefix & 0xFC) == kOutput ? kOutputKind
                                                               : kFeatureKind;
                uint64_t& bits = tally.bits[kind][globals.reportId];
                bits += uint64_t{globals.reportSize} * globals.reportCount;
                if (bits > kMaxReportBits) return std::nullopt;
                tally.present[kind][globals.reportId] = true;
                break;
            }
            default:
                break;  // usages, logical ranges, collections: no effect on lengths
        }
    }

    ReportLengths lengths;
    lengths.input = tally.ByteLength(kInputKind);
    lengths.output = tally.ByteLength(kOutputKind);
    lengths.feature = tally.ByteLength(kFeatureKind);
    lengths.usesReportIds = usesIds;
    return lengths;
}

}  // namespace farsend::link

#include "protocol/image_format.h"

#include <cstring>

#include "protocol/elf_reader.h"
#include "protocol/ihex_reader.h"
#include "protocol/image_text.h"
#include "protocol/srec_reader.h"

namespace farsend::protocol {

namespace {

struct FormatName {
    ImageFormat format;
    const char* name;
};
constexpr FormatName kNames[] = {{ImageFormat::Token, "token"},
                                 {ImageFormat::IntelHex, "ihex"},
                                 {ImageFormat::SRecord, "srec"},
                                 {ImageFormat::Elf, "elf"},
                                 {ImageFormat::Binary, "bin"}};

DecodedImage ReadForeign(ImageFormat format, std::string_view bytes,
                         const ImageReadOptions& options) {
    switch (format) {
        case ImageFormat::IntelHex:
            return ReadIntelHex(bytes);
        case ImageFormat::SRecord:
            return ReadSRecords(bytes);
        case ImageFormat::Elf:
            return ReadElf(bytes);
        case ImageFormat::Binary:
            if (!options.base) {
                DecodedImage image;
                image.error.emplace();
                image.error->kind = ImageFormatErrorKind::RecordMalformed;
                image.error->place = ImageErrorPlace::WholeFile;
                image.error->detail =
                    "a raw binary file needs --base ADDR: where its first "
                    "byte goes";
                return image;
            }
            return ReadBinary(bytes, *options.base);
        case ImageFormat::Token:
            break;
    }
    return {};
}

ImageFormat FormatOf(std::string_view bytes, const ImageReadOptions& options) {
    return options.format ? *options.format : DetectImageFormat(bytes);
}

}  // namespace

const char* ImageFormatName(ImageFormat format) {
    for (const FormatName& entry : kNames) {
        if (entry.format == format) return entry.name;
    }
    return "token";
}

std::string ImageFormatTitle(ImageFormat format) {
    switch (format) {
        case ImageFormat::IntelHex:
            return "Intel HEX, ";
        case ImageFormat::SRecord:
            return "S-records, ";
        case ImageFormat::Elf:
            return "ELF, ";
        case ImageFormat::Binary:
            return "raw binary, ";
        case ImageFormat::Token:
            break;
    }
    return {};
}

std::optional<ImageFormat> ImageFormatNamed(std::string_view name) {
    for (const FormatName& entry : kNames) {
        if (name == entry.name) return entry.format;
    }
    return std::nullopt;
}

ImageFormat DetectImageFormat(std::string_view bytes) {
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), kElfMagic, 4) == 0) return ImageFormat::Elf;
    std::size_t i = 0;
    while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' ||
                                bytes[i] == '\n' || bytes[i] == '\v' || bytes[i] == '\f')) {
        ++i;
    }
    if (i < bytes.size() && bytes[i] == ':') return ImageFormat::IntelHex;
    if (i + 1 < bytes.size() && bytes[i] == 'S' && bytes[i + 1] >= '0' && bytes[i + 1] <= '9') {
        return ImageFormat::SRecord;
    }
    return ImageFormat::Token;
}

DecodedImage ReadBinary(std::string_view bytes, std::uint32_t base) {
    SegmentCollector collector(ImageErrorPlace::Offset);
    collector.Add(base, bytes, 0);
    return collector.Finish();
}

std::vector<ImageSegment> SegmentsOfBlocks(const std::vector<FlashBlock>& blocks) {
    std::vector<ImageSegment> segments;
    for (const FlashBlock& block : blocks) {
        if (block.count == 0) continue;
        if (segments.empty() ||
            segments.back().address + segments.back().bytes.size() != block.baseAddress) {
            segments.push_back(ImageSegment{block.baseAddress, {}});
        }
        segments.back().bytes.insert(segments.back().bytes.end(), block.data.begin(),
                                     block.data.begin() + block.count);
    }
    return segments;
}

ImageContents ReadImageContents(std::string_view bytes, const ImageReadOptions& options) {
    ImageContents contents;
    contents.format = FormatOf(bytes, options);
    if (contents.format != ImageFormat::Token) {
        contents.image = ReadForeign(contents.format, bytes, options);
        return contents;
    }
    ImageFile file;
    file.OpenBytes(std::string(bytes));
    ImageReaderState state;
    state.quiet = true;
    ProgrammingPlan plan = PlanProgramming(file, state);
    contents.image.error = plan.error;
    if (!plan.error) contents.image.segments = SegmentsOfBlocks(plan.blocks);
    return contents;
}

TokenImage ReadImageAsTokens(const std::shared_ptr<const std::string>& bytes,
                             const ImageReadOptions& options) {
    TokenImage result;
    const std::string_view view = bytes ? std::string_view(*bytes) : std::string_view();
    result.format = FormatOf(view, options);
    if (result.format == ImageFormat::Token) {
        result.tokens = bytes;
        return result;
    }
    DecodedImage image = ReadForeign(result.format, view, options);
    if (image.error) {
        result.error = std::move(image.error);
        return result;
    }
    result.segments = std::make_shared<const std::vector<ImageSegment>>(std::move(image.segments));
    return result;
}

void TokenImage::OpenIn(ImageFile& file) const {
    if (segments) {
        file.OpenSegments(segments);
    } else {
        file.OpenShared(tokens);
    }
}

ProgrammingPlan PlanProgrammingBytes(const std::shared_ptr<const std::string>& bytes,
                                     const ImageReadOptions& options, ImageFormat* format) {
    TokenImage tokens = ReadImageAsTokens(bytes, options);
    if (format != nullptr) *format = tokens.format;
    if (tokens.error) {
        ProgrammingPlan plan;
        plan.error = std::move(tokens.error);
        return plan;
    }
    ImageFile file;
    tokens.OpenIn(file);
    ImageReaderState state;
    state.quiet = true;
    return PlanProgramming(file, state);
}

std::optional<ProgrammingPlan> PlanProgrammingFile(const std::string& path,
                                                   const ImageReadOptions& options,
                                                   ImageFormat* format) {
    const ImageSnapshot snapshot = TakeImageSnapshot(path);
    if (snapshot.status != ImageSnapshot::Status::Read) {
        // Formats decide nothing about a file that cannot be read; the token
        // reader's own answer (none, or a read error) stands.
        if (format != nullptr) *format = options.format.value_or(ImageFormat::Token);
        return PlanProgrammingFile(path);
    }
    return PlanProgrammingBytes(snapshot.bytes, options, format);
}

}  // namespace farsend::protocol

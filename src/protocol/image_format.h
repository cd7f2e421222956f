// The firmware file formats farsend reads, told apart by their content, and
// the one reading that turns any of them into the token text the image
// reader takes: the same text, so the same blocks, as a token file with the
// same bytes at the same addresses.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/image_reader.h"
#include "protocol/image_segments.h"

namespace farsend::protocol {

enum class ImageFormat { Token, IntelHex, SRecord, Elf, Binary };

// "token", "ihex", "srec", "elf", "bin": the names --format takes.
const char* ImageFormatName(ImageFormat format);
std::optional<ImageFormat> ImageFormatNamed(std::string_view name);
// What a refusal puts before the place: "Intel HEX, ", "S-records, ", "ELF, ",
// "raw binary, "; nothing for the token format, whose messages never named it.
std::string ImageFormatTitle(ImageFormat format);

// ':' first: Intel HEX; 'S' and a digit: S-records; the ELF magic number:
// ELF; anything else: the token format. Leading blanks and line ends are
// passed over first. Raw binary cannot be told from its content.
ImageFormat DetectImageFormat(std::string_view bytes);

struct ImageReadOptions {
    // Forced; none: from the content.
    std::optional<ImageFormat> format;
    // Where a raw binary file's first byte goes (Binary only, and needed).
    std::optional<std::uint32_t> base;
};

// A raw binary file placed at `base`.
DecodedImage ReadBinary(std::string_view bytes, std::uint32_t base);

// Any format, as its segments (a token file through the image reader).
struct ImageContents {
    ImageFormat format = ImageFormat::Token;
    DecodedImage image;
};
ImageContents ReadImageContents(std::string_view bytes, const ImageReadOptions& options);

// The bytes as the image reader takes them. A token file is passed on as it
// is (the same shared bytes); the others as their segments, which the reader
// takes as the tokens of the text FormatImageText writes for them (and
// convert writes). An error of the address-carrying formats is in `error`;
// that of a token file is found by the image reader, where it always was.
struct TokenImage {
    ImageFormat format = ImageFormat::Token;
    std::shared_ptr<const std::string> tokens;                  // token format
    std::shared_ptr<const std::vector<ImageSegment>> segments;  // the others
    std::optional<ImageFormatError> error;

    // Opens `file` on whichever it holds.
    void OpenIn(ImageFile& file) const;
};
TokenImage ReadImageAsTokens(const std::shared_ptr<const std::string>& bytes,
                             const ImageReadOptions& options);

// The blocks as segments of consecutive addresses.
std::vector<ImageSegment> SegmentsOfBlocks(const std::vector<FlashBlock>& blocks);

// PlanProgrammingFile for a file of any format; `format` learns which was
// read. nullopt when the file cannot be read.
std::optional<ProgrammingPlan> PlanProgrammingFile(const std::string& path,
                                                   const ImageReadOptions& options,
                                                   ImageFormat* format = nullptr);
ProgrammingPlan PlanProgrammingBytes(const std::shared_ptr<const std::string>& bytes,
                                     const ImageReadOptions& options,
                                     ImageFormat* format = nullptr);

}  // namespace farsend::protocol

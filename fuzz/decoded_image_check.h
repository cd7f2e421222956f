// The checks every address-carrying reader must pass on any input: an error
// with a place inside the input, or ascending segments that neither overlap
// nor touch, within 100..FFFFFFFF, which the token text carries unchanged into
// blocks and which Intel HEX and S-records written from them give back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "protocol/image_format.h"
#include "protocol/image_writers.h"

namespace farsend::fuzzing {

inline bool SameSegments(const std::vector<protocol::ImageSegment>& a,
                         const std::vector<protocol::ImageSegment>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].address != b[i].address || a[i].bytes != b[i].bytes) return false;
    }
    return true;
}

inline void CheckDecodedImage(const protocol::DecodedImage& image, std::string_view input) {
    using namespace farsend::protocol;
    if (image.error) {
        FUZZ_CHECK(image.segments.empty());
        const ImageFormatError& error = *image.error;
        FUZZ_CHECK(!error.detail.empty());
        FUZZ_CHECK(!DescribeImageFormatError(error).empty());
        if (error.place == ImageErrorPlace::Line) {
            std::uint64_t lines = 1;
            for (char c : input) lines += c == '\n' || c == '\r';
            FUZZ_CHECK(error.line >= 1 && error.line <= lines + 1);
        } else if (error.place == ImageErrorPlace::Offset) {
            FUZZ_CHECK(error.offset <= input.size() ||
                       error.kind == ImageFormatErrorKind::Truncated);
        }
        return;
    }
    std::uint64_t end = 0;
    for (const ImageSegment& segment : image.segments) {
        FUZZ_CHECK(!segment.bytes.empty());
        FUZZ_CHECK(segment.address >= kLowestImageAddress);
        FUZZ_CHECK(segment.address > end || end == 0);  // a gap between any two
        end = static_cast<std::uint64_t>(segment.address) + segment.bytes.size();
        FUZZ_CHECK(end <= 0x100000000ull);
        // Every byte comes from the input; but an ELF file's program headers
        // may place the same file bytes at two addresses, so only each
        // segment, not their sum, is bounded by the input.
        FUZZ_CHECK(segment.bytes.size() <= input.size());
    }

    // Through the token text into blocks, as a run sends them.
    const ProgrammingPlan plan =
        PlanProgrammingBytes(std::make_shared<const std::string>(FormatImageText(image.segments)),
                             {ImageFormat::Token, std::nullopt});
    if (image.segments.empty()) {
        FUZZ_CHECK(plan.error && plan.error->kind == ImageFormatErrorKind::NoData);
        return;
    }
    FUZZ_CHECK(plan.endsWithEndOfData);
    FUZZ_CHECK(SameSegments(SegmentsOfBlocks(plan.blocks), image.segments));
    for (const FlashBlock& block : plan.blocks) FUZZ_CHECK(block.count <= 256);

    // Written as Intel HEX and S-records, read back the same.
    const auto ihex = ReadImageContents(WriteIntelHex(image.segments), {});
    FUZZ_CHECK(ihex.format == ImageFormat::IntelHex && !ihex.image.error);
    FUZZ_CHECK(SameSegments(ihex.image.segments, image.segments));
    const auto srec = ReadImageContents(WriteSRecords(image.segments), {});
    FUZZ_CHECK(srec.format == ImageFormat::SRecord && !srec.image.error);
    FUZZ_CHECK(SameSegments(srec.image.segments, image.segments));
}

}  // namespace farsend::fuzzing

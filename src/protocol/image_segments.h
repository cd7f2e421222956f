// What the address-carrying readers (Intel HEX, S-records, ELF, raw binary)
// have in common: pieces of data at addresses, gathered in any order and
// turned into ascending segments that never overlap, or into an error that
// names the piece at fault.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/image_file.h"
#include "protocol/image_text.h"

namespace farsend::protocol {

// Lowest address a firmware file can carry: smaller values read back as data
// bytes in the token format every image goes through.
constexpr std::uint64_t kLowestImageAddress = 0x100;

// A reader's result: ascending segments with a gap between any two, or the
// first error found.
struct DecodedImage {
    std::vector<ImageSegment> segments;
    std::optional<ImageFormatError> error;
};

// An error at a record's line, or at a byte offset of a binary file.
ImageFormatError LineError(ImageFormatErrorKind kind, std::uint64_t line, std::string detail);
ImageFormatError OffsetError(ImageFormatErrorKind kind, std::uint64_t offset, std::string detail);

// "0000ABCD": eight hexadecimal digits; wider values keep all their digits.
std::string Hex8(std::uint64_t value);

class SegmentCollector {
public:
    // `line` for the record formats, else the byte offset that is named
    // when this piece is at fault.
    explicit SegmentCollector(ImageErrorPlace place) : place_(place) {}

    // Data at `address` (64-bit, so data past FFFFFFFF is caught). False,
    // with Error() set, when it lies above 32 bits or below the lowest
    // address; overlaps are found by Finish.
    bool Add(std::uint64_t address, std::string_view bytes, std::uint64_t where);

    const std::optional<ImageFormatError>& Error() const { return error_; }
    void Fail(ImageFormatError error) {
        if (!error_) error_ = std::move(error);
    }

    // The segments, joined where they meet; an overlap names the piece that
    // comes later in the file.
    DecodedImage Finish();

private:
    struct Piece {
        std::uint64_t address;
        std::size_t offset;  // into data_
        std::size_t length;
        std::uint64_t where;
    };
    ImageFormatError ErrorAt(ImageFormatErrorKind kind, std::uint64_t where,
                             std::string detail) const;

    ImageErrorPlace place_;
    std::vector<Piece> pieces_;
    std::string data_;
    bool ascending_ = true;
    std::optional<ImageFormatError> error_;
};

}  // namespace farsend::protocol

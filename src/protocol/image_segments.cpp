#include "protocol/image_segments.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace farsend::protocol {

ImageFormatError LineError(ImageFormatErrorKind kind, std::uint64_t line, std::string detail) {
    ImageFormatError error;
    error.kind = kind;
    error.place = ImageErrorPlace::Line;
    error.line = line;
    error.column = 1;
    error.detail = std::move(detail);
    return error;
}

ImageFormatError OffsetError(ImageFormatErrorKind kind, std::uint64_t offset, std::string detail) {
    ImageFormatError error;
    error.kind = kind;
    error.place = ImageErrorPlace::Offset;
    error.offset = offset;
    error.detail = std::move(detail);
    return error;
}

std::string Hex8(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%08" PRIX64, value);
    return text;
}

ImageFormatError SegmentCollector::ErrorAt(ImageFormatErrorKind kind, std::uint64_t where,
                                           std::string detail) const {
    return place_ == ImageErrorPlace::Line ? LineError(kind, where, std::move(detail))
                                           : OffsetError(kind, where, std::move(detail));
}

bool SegmentCollector::Add(std::uint64_t address, std::string_view bytes, std::uint64_t where) {
    if (error_) return false;
    if (bytes.empty()) return true;
    const std::uint64_t end = address + bytes.size();
    if (end > 0x100000000ull) {
        Fail(ErrorAt(ImageFormatErrorKind::AddressBeyond32Bits, where,
                     "data at " + Hex8(address) + " runs to " + Hex8(end - 1) +
                         ", beyond address FFFFFFFF"));
        return false;
    }
    if (address < kLowestImageAddress) {
        Fail(ErrorAt(ImageFormatErrorKind::AddressTooLow, where,
                     "data at " + Hex8(address) +
                         ": addresses below 00000100 cannot be programmed from a firmware "
                         "file"));
        return false;
    }
    if (!pieces_.empty()) {
        const Piece& last = pieces_.back();
        if (address < last.address + last.length) ascending_ = false;
        // Pieces that follow each other grow one piece instead of adding one.
        if (address == last.address + last.length && ascending_) {
            data_.append(bytes);
            pieces_.back().length += bytes.size();
            return true;
        }
    }
    pieces_.push_back(Piece{address, data_.size(), bytes.size(), where});
    data_.append(bytes);
    return true;
}

DecodedImage SegmentCollector::Finish() {
    DecodedImage image;
    if (error_) {
        image.error = error_;
        return image;
    }
    if (!ascending_) {
        std::stable_sort(pieces_.begin(), pieces_.end(),
                         [](const Piece& a, const Piece& b) { return a.address < b.address; });
    }
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        const Piece& piece = pieces_[i];
        if (i > 0) {
            const Piece& before = pieces_[i - 1];
            if (piece.address < before.address + before.length) {
                const Piece& later = piece.where > before.where ? piece : before;
                const Piece& earlier = piece.where > before.where ? before : piece;
                const std::uint64_t from = std::max(piece.address, before.address);
                const std::uint64_t to =
                    std::min(piece.address + piece.length, before.address + before.length) - 1;
                const char* unit = place_ == ImageErrorPlace::Line ? "line " : "offset ";
                image.error = ErrorAt(ImageFormatErrorKind::DataOverlaps, later.where,
                                      "data at " + Hex8(from) + ".." + Hex8(to) +
                                          " overlaps the data given from " + unit +
                                          std::to_string(earlier.where) + " on");
                image.segments.clear();
                return image;
            }
        }
        const char* bytes = data_.data() + piece.offset;
        if (!image.segments.empty()) {
            ImageSegment& last = image.segments.back();
            if (last.address + last.bytes.size() == piece.address) {
                last.bytes.insert(last.bytes.end(), bytes, bytes + piece.length);
                continue;
            }
        }
        ImageSegment segment;
        segment.address = static_cast<std::uint32_t>(piece.address);
        segment.bytes.assign(bytes, bytes + piece.length);
        image.segments.push_back(std::move(segment));
    }
    return image;
}

}  // namespace farsend::protocol

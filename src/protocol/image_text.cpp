#include "protocol/image_text.h"

#include <cstring>

namespace farsend::protocol {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr std::size_t kBytesPerLine = 16;

}  // namespace

std::string FormatImageText(const std::vector<ImageSegment>& segments, bool crlf) {
    const char* lineEnd = crlf ? "\r\n" : "\n";
    const std::size_t lineEndSize = crlf ? 2 : 1;
    // Measured first and written in place: every image in another format
    // passes through here on its way to the blocks.
    std::size_t length = 0;
    for (const ImageSegment& segment : segments) {
        const std::size_t n = segment.bytes.size();
        const std::size_t lines = (n + kBytesPerLine - 1) / kBytesPerLine;
        length += 8 + lineEndSize + 2 * n + (n - lines) + lines * lineEndSize;
    }
    std::string text(length, '\0');
    char* out = text.data();
    for (const ImageSegment& segment : segments) {
        for (int shift = 28; shift >= 0; shift -= 4)
            *out++ = kDigits[(segment.address >> shift) & 0xF];
        std::memcpy(out, lineEnd, lineEndSize);
        out += lineEndSize;
        const std::size_t n = segment.bytes.size();
        for (std::size_t i = 0; i < n; ++i) {
            *out++ = kDigits[segment.bytes[i] >> 4];
            *out++ = kDigits[segment.bytes[i] & 0xF];
            if ((i + 1) % kBytesPerLine == 0 || i + 1 == n) {
                std::memcpy(out, lineEnd, lineEndSize);
                out += lineEndSize;
            } else {
                *out++ = ' ';
            }
        }
    }
    return text;
}

}  // namespace farsend::protocol

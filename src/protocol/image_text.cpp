#include "protocol/image_text.h"

namespace farsend::protocol {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

}  // namespace

std::string FormatImageText(const std::vector<ImageSegment>& segments, bool crlf) {
    constexpr std::size_t kBytesPerLine = 16;
    const char* lineEnd = crlf ? "\r\n" : "\n";
    std::size_t length = 0;
    for (const ImageSegment& segment : segments) length += 10 + segment.bytes.size() * 3 + 2;
    std::string text;
    text.reserve(length + length / 16);
    for (const ImageSegment& segment : segments) {
        for (int shift = 28; shift >= 0; shift -= 4)
            text += kDigits[(segment.address >> shift) & 0xF];
        text += lineEnd;
        for (std::size_t i = 0; i < segment.bytes.size(); ++i) {
            text += kDigits[segment.bytes[i] >> 4];
            text += kDigits[segment.bytes[i] & 0xF];
            const bool lastOnLine = (i + 1) % kBytesPerLine == 0 || i + 1 == segment.bytes.size();
            text += lastOnLine ? lineEnd : " ";
        }
    }
    return text;
}

}  // namespace farsend::protocol

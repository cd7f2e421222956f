#include "protocol/image_text.h"

#include <cstdio>

namespace farsend::protocol {

std::string FormatImageText(const std::vector<ImageSegment>& segments, bool crlf) {
    constexpr std::size_t kBytesPerLine = 16;
    const char* lineEnd = crlf ? "\r\n" : "\n";
    std::string text;
    char digits[16];
    for (const ImageSegment& segment : segments) {
        std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(segment.address));
        text += digits;
        text += lineEnd;
        for (std::size_t i = 0; i < segment.bytes.size(); ++i) {
            std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(segment.bytes[i]));
            text += digits;
            const bool lastOnLine = (i + 1) % kBytesPerLine == 0 || i + 1 == segment.bytes.size();
            text += lastOnLine ? lineEnd : " ";
        }
    }
    return text;
}

}  // namespace farsend::protocol

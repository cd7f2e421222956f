#include "common/printable_text.h"

#include <cstdio>

namespace farsend {
namespace {

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%0*x", prefix, digits, value);
    out += text;
}

// The length of the valid UTF-8 sequence at `at` (1 to 4), or 0 when the
// bytes there are not one: overlong forms, surrogates and code points above
// U+10FFFF included.
std::size_t Utf8Length(std::string_view text, std::size_t at, unsigned& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned lead = byte(0);
    std::size_t length = 0;
    unsigned minimum = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, codePoint = lead & 0x1f, minimum = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, codePoint = lead & 0x0f, minimum = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, codePoint = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (byte(i) & 0x3f);
    }
    if (codePoint < minimum || codePoint > 0x10ffff) return 0;
    if (codePoint >= 0xd800 && codePoint <= 0xdfff) return 0;
    return length;
}

}  // namespace

std::string PrintableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            switch (byte) {
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case 0x1b:
                    out += "\\e";
                    break;
                default:
                    if (byte < 0x20 || byte == 0x7f) {
                        AppendHex(out, "\\x", byte, 2);
                    } else {
                        out += static_cast<char>(byte);
                    }
            }
            ++at;
            continue;
        }
        unsigned codePoint = 0;
        const std::size_t length = Utf8Length(text, at, codePoint);
        if (length == 0) {
            AppendHex(out, "\\x", byte, 2);
            ++at;
        } else if (codePoint <= 0x9f) {
            AppendHex(out, "\\u", codePoint, 4);
            at += length;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

}  // namespace farsend

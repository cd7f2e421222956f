#include "line/json_text.h"

#include <charconv>
#include <cmath>

namespace farsend::line {
namespace {

// The bytes of the UTF-8 sequence that starts at `at` and whether it is
// one (overlong forms, surrogates and code points past U+10FFFF are not).
// A broken one ends where it stops being a sequence, and is replaced as a
// whole by one U+FFFD: its first byte alone when that cannot start one.
std::size_t Utf8Sequence(std::string_view text, std::size_t at, bool& valid) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    valid = false;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= text.size()) return i;
        const unsigned char next = byte(at + i);
        if (i == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF)) return i;
    }
    valid = true;
    return length;
}

}  // namespace

void JsonText::Separate() {
    if (!first_) text_ += ',';
    first_ = false;
}

JsonText& JsonText::BeginObject() {
    Separate();
    text_ += '{';
    first_ = true;
    return *this;
}

JsonText& JsonText::EndObject() {
    text_ += '}';
    first_ = false;
    return *this;
}

JsonText& JsonText::BeginArray() {
    Separate();
    text_ += '[';
    first_ = true;
    return *this;
}

JsonText& JsonText::EndArray() {
    text_ += ']';
    first_ = false;
    return *this;
}

JsonText& JsonText::Key(std::string_view name) {
    String(name);
    text_ += ':';
    first_ = true;  // the value that follows takes no comma
    return *this;
}

JsonText& JsonText::String(std::string_view text) {
    Separate();
    static constexpr char kHex[] = "0123456789abcdef";
    text_ += '"';
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c >= 0x80) {
            bool valid = false;
            const std::size_t length = Utf8Sequence(text, at, valid);
            if (valid) {
                text_.append(text.substr(at, length));
            } else {
                text_ += "\xEF\xBF\xBD";
            }
            at += length;
            continue;
        }
        switch (c) {
            case '"':
                text_ += "\\\"";
                break;
            case '\\':
                text_ += "\\\\";
                break;
            case '\b':
                text_ += "\\b";
                break;
            case '\f':
                text_ += "\\f";
                break;
            case '\n':
                text_ += "\\n";
                break;
            case '\r':
                text_ += "\\r";
                break;
            case '\t':
                text_ += "\\t";
                break;
            default:
                if (c < 0x20) {
                    text_ += "\\u00";
                    text_ += kHex[c >> 4];
                    text_ += kHex[c & 0xF];
                } else {
                    text_ += static_cast<char>(c);
                }
        }
        ++at;
    }
    text_ += '"';
    return *this;
}

JsonText& JsonText::Number(std::int64_t value) {
    Separate();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text_.append(digits, end);
    return *this;
}

JsonText& JsonText::Number(std::uint64_t value) {
    Separate();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text_.append(digits, end);
    return *this;
}

JsonText& JsonText::Number(double value) {
    if (!std::isfinite(value)) return Null();
    Separate();
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text_.append(digits, end);
    return *this;
}

JsonText& JsonText::Bool(bool value) {
    Separate();
    text_ += value ? "true" : "false";
    return *this;
}

JsonText& JsonText::Null() {
    Separate();
    text_ += "null";
    return *this;
}

JsonText& JsonText::Raw(std::string_view json) {
    Separate();
    text_.append(json);
    return *this;
}

}  // namespace farsend::line

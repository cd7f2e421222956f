#include "line/json_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

namespace farsend::line {

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
    // Most strings (states, names, serials) are plain printable ASCII and
    // are written as they are. Any other goes through the JSON library's own
    // escaping and replacement of broken UTF-8, so that these messages say
    // it as the page's other answers do.
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    });
    if (plain) {
        text_ += '"';
        text_.append(text);
        text_ += '"';
    } else {
        text_ +=
            nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
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

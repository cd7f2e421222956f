// JSON written straight into a string, for the line page's events: a busy
// line sends its tiles many times a second, and building a document tree
// for each message cost more than the stations' own work around it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace farsend::line {

class JsonText {
public:
    // Objects and arrays: members are separated by the writer itself.
    JsonText& BeginObject();
    JsonText& EndObject();
    JsonText& BeginArray();
    JsonText& EndArray();
    JsonText& Key(std::string_view name);

    // A string as text: what is not UTF-8 (a device need not send it) is
    // replaced by U+FFFD, as the page's other answers replace it.
    JsonText& String(std::string_view text);
    JsonText& Number(std::int64_t value);
    JsonText& Number(std::uint64_t value);
    JsonText& Number(int value) { return Number(static_cast<std::int64_t>(value)); }
    // The shortest text that reads back as the same double; null when it is
    // not finite, which JSON cannot say.
    JsonText& Number(double value);
    JsonText& Bool(bool value);
    JsonText& Null();
    // A piece already written by another JsonText.
    JsonText& Raw(std::string_view json);

    const std::string& Text() const { return text_; }
    std::string Take() { return std::move(text_); }

private:
    void Separate();

    std::string text_;
    bool first_ = true;  // nothing yet in the object or array just begun
};

}  // namespace farsend::line

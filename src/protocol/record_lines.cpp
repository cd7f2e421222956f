#include "protocol/record_lines.h"

#include "protocol/image_segments.h"

namespace farsend::protocol {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// -1 for anything but a hexadecimal digit.
struct DigitTable {
    signed char value[256];
    DigitTable() {
        for (int c = 0; c < 256; ++c) {
            value[c] = -1;
            if (c >= '0' && c <= '9') value[c] = static_cast<signed char>(c - '0');
            if (c >= 'a' && c <= 'f') value[c] = static_cast<signed char>(c - 'a' + 10);
            if (c >= 'A' && c <= 'F') value[c] = static_cast<signed char>(c - 'A' + 10);
        }
    }
};
const DigitTable kDigits;

}  // namespace

bool RecordLines::Next(std::string_view& line) {
    if (position_ >= text_.size()) return false;
    const std::size_t start = position_;
    std::size_t end = start;
    while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') ++end;
    line = text_.substr(start, end - start);
    position_ = end;
    if (position_ < text_.size() && text_[position_] == '\r') ++position_;
    if (position_ < text_.size() && text_[position_] == '\n') ++position_;
    ++number_;
    return true;
}

bool IsBlankLine(std::string_view line) {
    for (char c : line) {
        if (!IsBlank(c)) return false;
    }
    return true;
}

std::string_view WithoutLeadingBlanks(std::string_view line) {
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    return line;
}

std::optional<ImageFormatError> RecordBytes(std::string_view digits, std::uint64_t line,
                                            std::string& bytes) {
    while (!digits.empty() && IsBlank(digits.back())) digits.remove_suffix(1);
    bytes.resize(digits.size() / 2);
    const auto* in = reinterpret_cast<const unsigned char*>(digits.data());
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (kDigits.value[in[i]] < 0) {
            const unsigned char c = in[i];
            std::string shown = c >= 0x20 && c < 0x7F
                                    ? std::string("'") + static_cast<char>(c) + "'"
                                    : "byte " + Hex8(c).substr(6);
            return LineError(ImageFormatErrorKind::RecordMalformed, line,
                             shown + " is not a hexadecimal digit");
        }
    }
    if (digits.size() % 2 != 0) {
        return LineError(ImageFormatErrorKind::OddDigitCount, line,
                         "an odd number of hexadecimal digits (" + std::to_string(digits.size()) +
                             "): the record ends in half a byte");
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(kDigits.value[in[2 * i]] << 4 | kDigits.value[in[2 * i + 1]]);
    }
    return std::nullopt;
}

DecodedImage ReadRecordFile(
    std::string_view text, SegmentCollector& collector, const RecordFileTexts& texts,
    const std::function<bool(std::string_view line, std::uint64_t number)>& record) {
    RecordLines lines(text);
    std::string_view line;
    bool ended = false;
    while (lines.Next(line)) {
        const std::uint64_t number = lines.Number();
        if (IsBlankLine(line)) continue;
        if (ended) {
            collector.Fail(LineError(ImageFormatErrorKind::DataAfterEnd, number, texts.afterEnd));
            break;
        }
        ended = record(WithoutLeadingBlanks(line), number);
        if (collector.Error()) break;
    }
    if (!ended && !collector.Error()) {
        collector.Fail(LineError(ImageFormatErrorKind::EndRecordMissing, lines.Number() + 1,
                                 texts.endMissing));
    }
    return collector.Finish();
}

}  // namespace farsend::protocol

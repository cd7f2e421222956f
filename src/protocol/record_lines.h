// The line-by-line reading shared by Intel HEX and S-records: lines in any
// line-end convention, numbered from 1, and the hexadecimal digits of a
// record turned into bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/image_file.h"
#include "protocol/image_segments.h"

namespace farsend::protocol {

class RecordLines {
public:
    explicit RecordLines(std::string_view text) : text_(text) {}
    // The next line without its line end; false at the end of the text.
    bool Next(std::string_view& line);
    // Of the line Next gave last.
    std::uint64_t Number() const { return number_; }

private:
    std::string_view text_;
    std::size_t position_ = 0;
    std::uint64_t number_ = 0;
};

// A line that holds only blanks (tolerated between and after records).
bool IsBlankLine(std::string_view line);
std::string_view WithoutLeadingBlanks(std::string_view line);

// `digits` (the record after its lead-in, trailing blanks allowed) as bytes
// into `bytes`; an error naming `line` when a character is not a hexadecimal
// digit or the digits do not make whole bytes.
std::optional<ImageFormatError> RecordBytes(std::string_view digits, std::uint64_t line,
                                            std::string& bytes);

// What every record format shares around its records: blank lines passed
// over, leading blanks too (as the format's detection does), nothing after
// the end record, and an end record before the text ends. `record` parses
// one line, given with its number: it returns true for the end record, and
// reports a fault through `collector`, which ends the reading.
struct RecordFileTexts {
    const char* afterEnd;    // a record after the end record
    const char* endMissing;  // the text ends without one
};
DecodedImage ReadRecordFile(
    std::string_view text, SegmentCollector& collector, const RecordFileTexts& texts,
    const std::function<bool(std::string_view line, std::uint64_t number)>& record);

}  // namespace farsend::protocol

#include "protocol/ihex_reader.h"

#include "protocol/record_lines.h"

namespace farsend::protocol {

namespace {

std::string TwoDigits(unsigned value) {
    return Hex8(value).substr(6);
}

}  // namespace

DecodedImage ReadIntelHex(std::string_view text) {
    SegmentCollector collector(ImageErrorPlace::Line);
    std::string record;
    std::uint64_t base = 0;  // from the last 02 or 04 record
    return ReadRecordFile(
        text, collector,
        {"a record after the end-of-file record",
         "the file ends without an end-of-file record (:00000001FF)"},
        [&](std::string_view line, std::uint64_t number) {
            if (line[0] != ':') {
                collector.Fail(LineError(ImageFormatErrorKind::RecordMalformed, number,
                                         "an Intel HEX record starts with ':'"));
                return false;
            }
            if (auto error = RecordBytes(line.substr(1), number, record)) {
                collector.Fail(std::move(*error));
                return false;
            }
            if (record.size() < 5) {
                collector.Fail(LineError(ImageFormatErrorKind::RecordCount, number,
                                         "a record of " + std::to_string(record.size()) +
                                             " bytes is shorter than its 5 fixed bytes"));
                return false;
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(record.data());
            const unsigned length = bytes[0];
            if (record.size() != length + 5u) {
                collector.Fail(LineError(ImageFormatErrorKind::RecordCount, number,
                                         "the record says " + std::to_string(length) +
                                             " data bytes but holds " +
                                             std::to_string(record.size() - 5)));
                return false;
            }
            unsigned sum = 0;
            for (std::size_t i = 0; i + 1 < record.size(); ++i) sum += bytes[i];
            const unsigned expected = (0x100 - (sum & 0xFF)) & 0xFF;
            if (bytes[record.size() - 1] != expected) {
                collector.Fail(LineError(ImageFormatErrorKind::RecordChecksum, number,
                                         "checksum " + TwoDigits(bytes[record.size() - 1]) +
                                             ", the record's bytes need " + TwoDigits(expected)));
                return false;
            }
            const unsigned offset = static_cast<unsigned>(bytes[1]) << 8 | bytes[2];
            const unsigned type = bytes[3];
            const unsigned char* data = bytes + 4;
            // The fixed lengths of the records that carry no data.
            const int fixedLength = type == 1                ? 0
                                    : type == 2 || type == 4 ? 2
                                    : type == 3 || type == 5 ? 4
                                                             : -1;
            if (type > 5) {
                collector.Fail(
                    LineError(ImageFormatErrorKind::RecordType, number,
                              "record type " + TwoDigits(type) + " is not one of 00 to 05"));
                return false;
            }
            if (fixedLength >= 0 && length != static_cast<unsigned>(fixedLength)) {
                collector.Fail(LineError(ImageFormatErrorKind::RecordCount, number,
                                         "a type " + TwoDigits(type) + " record holds " +
                                             std::to_string(fixedLength) + " data bytes, not " +
                                             std::to_string(length)));
                return false;
            }
            switch (type) {
                case 0:
                    collector.Add(base + offset, std::string_view(record).substr(4, length),
                                  number);
                    return false;
                case 1:
                    return true;
                case 2:
                    base = (static_cast<std::uint64_t>(data[0]) << 8 | data[1]) << 4;
                    return false;
                case 4:
                    base = (static_cast<std::uint64_t>(data[0]) << 8 | data[1]) << 16;
                    return false;
                default:  // 03 and 05: where the code starts, which the target knows itself
                    return false;
            }
        });
}

}  // namespace farsend::protocol

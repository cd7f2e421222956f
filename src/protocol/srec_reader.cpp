#include "protocol/srec_reader.h"

#include "protocol/record_lines.h"

namespace farsend::protocol {

namespace {

// The address bytes of each record type; 0 for S4, which has no use.
constexpr unsigned kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

}  // namespace

DecodedImage ReadSRecords(std::string_view text) {
    SegmentCollector collector(ImageErrorPlace::Line);
    std::string record;
    std::uint64_t dataRecords = 0;
    return ReadRecordFile(
        text, collector,
        {"a record after the end record (S7, S8 or S9)",
         "the file ends without an end record (S7, S8 or S9)"},
        [&](std::string_view line, std::uint64_t number) {
            if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9') {
                collector.Fail(LineError(ImageFormatErrorKind::RecordMalformed, number,
                                         "an S-record starts with 'S' and a digit"));
                return false;
            }
            const unsigned type = static_cast<unsigned>(line[1] - '0');
            if (type == 4) {
                collector.Fail(LineError(ImageFormatErrorKind::RecordType, number,
                                         "record type S4 is not one of S0 to S3 or S5 to S9"));
                return false;
            }
            if (auto error = RecordBytes(line.substr(2), number, record)) {
                collector.Fail(std::move(*error));
                return false;
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(record.data());
            const unsigned addressBytes = kAddressBytes[type];
            if (record.empty() || record.size() != bytes[0] + 1u || bytes[0] < addressBytes + 1) {
                const std::string says =
                    record.empty() ? "no count" : "a count of " + std::to_string(bytes[0]);
                collector.Fail(
                    LineError(ImageFormatErrorKind::RecordCount, number,
                              "the record has " + says + " but " +
                                  std::to_string(record.empty() ? 0 : record.size() - 1) +
                                  " bytes after it (at least " + std::to_string(addressBytes + 1) +
                                  " for S" + std::to_string(type) + ")"));
                return false;
            }
            unsigned sum = 0;
            for (std::size_t i = 0; i + 1 < record.size(); ++i) sum += bytes[i];
            const unsigned expected = ~sum & 0xFF;
            if (bytes[record.size() - 1] != expected) {
                collector.Fail(LineError(ImageFormatErrorKind::RecordChecksum, number,
                                         "checksum " + Hex8(bytes[record.size() - 1]).substr(6) +
                                             ", the record's bytes need " +
                                             Hex8(expected).substr(6)));
                return false;
            }
            std::uint64_t address = 0;
            for (unsigned i = 0; i < addressBytes; ++i) address = address << 8 | bytes[1 + i];
            const std::size_t dataLength = record.size() - 2 - addressBytes;
            if (type >= 1 && type <= 3) {
                ++dataRecords;
                collector.Add(
                    address, std::string_view(record).substr(1 + addressBytes, dataLength), number);
            } else if (type == 5 || type == 6) {
                if (address != dataRecords) {
                    collector.Fail(LineError(ImageFormatErrorKind::RecordCount, number,
                                             "the count record says " + std::to_string(address) +
                                                 " data records, the file has " +
                                                 std::to_string(dataRecords) + " before it"));
                }
            } else if (type >= 7) {
                return true;  // the start address: the target knows where its code starts
            }
            return false;
        });
}

}  // namespace farsend::protocol

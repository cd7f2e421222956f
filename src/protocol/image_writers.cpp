#include "protocol/image_writers.h"

#include <algorithm>
#include <cstdint>

namespace farsend::protocol {

namespace {

constexpr std::size_t kRecordBytes = 16;
constexpr char kDigits[] = "0123456789ABCDEF";

// One record's bytes as hexadecimal digits, with its checksum.
class RecordText {
public:
    explicit RecordText(std::string& out) : out_(out) {}
    void Byte(unsigned value) {
        sum_ += value;
        out_ += kDigits[(value >> 4) & 0xF];
        out_ += kDigits[value & 0xF];
    }
    unsigned Sum() const { return sum_ & 0xFF; }
    void Raw(unsigned value) {
        out_ += kDigits[(value >> 4) & 0xF];
        out_ += kDigits[value & 0xF];
    }

private:
    std::string& out_;
    unsigned sum_ = 0;
};

void IntelRecord(std::string& out, unsigned type, unsigned offset, const std::uint8_t* data,
                 std::size_t length) {
    out += ':';
    RecordText record(out);
    record.Byte(static_cast<unsigned>(length));
    record.Byte(offset >> 8 & 0xFF);
    record.Byte(offset & 0xFF);
    record.Byte(type);
    for (std::size_t i = 0; i < length; ++i) record.Byte(data[i]);
    record.Raw((0x100 - record.Sum()) & 0xFF);
    out += '\n';
}

void SRecord(std::string& out, unsigned type, std::uint32_t address, unsigned addressBytes,
             const std::uint8_t* data, std::size_t length) {
    out += 'S';
    out += static_cast<char>('0' + type);
    RecordText record(out);
    record.Byte(static_cast<unsigned>(addressBytes + length + 1));
    for (unsigned i = addressBytes; i > 0; --i) record.Byte(address >> (8 * (i - 1)) & 0xFF);
    for (std::size_t i = 0; i < length; ++i) record.Byte(data[i]);
    record.Raw(~record.Sum() & 0xFF);
    out += '\n';
}

}  // namespace

std::string WriteIntelHex(const std::vector<ImageSegment>& segments) {
    std::string out;
    std::uint64_t upper = 0;  // the 64 KB the last 04 record chose
    for (const ImageSegment& segment : segments) {
        std::uint64_t address = segment.address;
        std::size_t done = 0;
        while (done < segment.bytes.size()) {
            if (address >> 16 != upper) {
                upper = address >> 16;
                const std::uint8_t value[2] = {static_cast<std::uint8_t>(upper >> 8),
                                               static_cast<std::uint8_t>(upper)};
                IntelRecord(out, 4, 0, value, 2);
            }
            // A record never runs past the end of its 64 KB.
            const std::size_t room = 0x10000 - (address & 0xFFFF);
            const std::size_t length = std::min({kRecordBytes, segment.bytes.size() - done, room});
            IntelRecord(out, 0, address & 0xFFFF, segment.bytes.data() + done, length);
            done += length;
            address += length;
        }
    }
    IntelRecord(out, 1, 0, nullptr, 0);
    return out;
}

std::string WriteSRecords(const std::vector<ImageSegment>& segments) {
    std::string out;
    static const std::uint8_t kHeader[] = {'f', 'a', 'r', 's', 'e', 'n', 'd'};
    SRecord(out, 0, 0, 2, kHeader, sizeof kHeader);
    std::uint64_t records = 0;
    for (const ImageSegment& segment : segments) {
        for (std::size_t done = 0; done < segment.bytes.size(); done += kRecordBytes) {
            const std::size_t length = std::min(kRecordBytes, segment.bytes.size() - done);
            SRecord(out, 3, static_cast<std::uint32_t>(segment.address + done), 4,
                    segment.bytes.data() + done, length);
            ++records;
        }
    }
    // S5 holds 16 bits of count, S6 24; past that the count is left out.
    if (records <= 0xFFFF) {
        SRecord(out, 5, static_cast<std::uint32_t>(records), 2, nullptr, 0);
    } else if (records <= 0xFFFFFF) {
        SRecord(out, 6, static_cast<std::uint32_t>(records), 3, nullptr, 0);
    }
    SRecord(out, 7, 0, 4, nullptr, 0);
    return out;
}

}  // namespace farsend::protocol

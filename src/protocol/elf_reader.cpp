#include "protocol/elf_reader.h"

#include <cstring>

namespace farsend::protocol {

namespace {

constexpr std::uint32_t kLoadSegment = 1;  // PT_LOAD

std::uint64_t Little(std::string_view file, std::uint64_t offset, unsigned size) {
    std::uint64_t value = 0;
    for (unsigned i = size; i > 0; --i) {
        value = value << 8 | static_cast<unsigned char>(file[offset + i - 1]);
    }
    return value;
}

ImageFormatError Truncated(std::uint64_t offset, const std::string& what, std::uint64_t size) {
    return OffsetError(ImageFormatErrorKind::Truncated, offset,
                       "the file ends at " + std::to_string(size) + " bytes, inside " + what);
}

}  // namespace

DecodedImage ReadElf(std::string_view file) {
    SegmentCollector collector(ImageErrorPlace::Offset);
    DecodedImage failed;
    const std::uint64_t size = file.size();
    if (size < 16 || std::memcmp(file.data(), kElfMagic, 4) != 0) {
        failed.error = size < 16 ? Truncated(0, "the ELF identification (16 bytes)", size)
                                 : OffsetError(ImageFormatErrorKind::RecordMalformed, 0,
                                               "not an ELF file (no 7F 'E' 'L' 'F' at its start)");
        return failed;
    }
    const unsigned elfClass = static_cast<unsigned char>(file[4]);
    const unsigned encoding = static_cast<unsigned char>(file[5]);
    if (elfClass != 1 && elfClass != 2) {
        failed.error = OffsetError(
            ImageFormatErrorKind::Unsupported, 4,
            "ELF class " + std::to_string(elfClass) + " is neither 32-bit (1) nor 64-bit (2)");
        return failed;
    }
    if (encoding != 1) {
        failed.error = OffsetError(
            ImageFormatErrorKind::Unsupported, 5,
            encoding == 2 ? "a big-endian ELF file; only little-endian "
                            "ones are read"
                          : "ELF data encoding " + std::to_string(encoding) + " is unknown");
        return failed;
    }
    const bool wide = elfClass == 2;
    const std::uint64_t headerSize = wide ? 64 : 52;
    if (size < headerSize) {
        failed.error =
            Truncated(16, "the ELF header (" + std::to_string(headerSize) + " bytes)", size);
        return failed;
    }
    const std::uint64_t tableOffset = wide ? Little(file, 32, 8) : Little(file, 28, 4);
    const std::uint64_t entrySize = Little(file, wide ? 54 : 42, 2);
    const std::uint64_t entries = Little(file, wide ? 56 : 44, 2);
    const std::uint64_t smallestEntry = wide ? 56 : 32;
    if (entries == 0xFFFF) {
        failed.error = OffsetError(ImageFormatErrorKind::Unsupported, wide ? 56 : 44,
                                   "more than 65534 program headers are not read");
        return failed;
    }
    if (entries > 0 && entrySize < smallestEntry) {
        failed.error = OffsetError(ImageFormatErrorKind::RecordMalformed, wide ? 54 : 42,
                                   "program headers of " + std::to_string(entrySize) +
                                       " bytes, smaller than the " + std::to_string(smallestEntry) +
                                       " they need");
        return failed;
    }
    if (entries > 0 && (tableOffset > size || entries * entrySize > size - tableOffset)) {
        failed.error = Truncated(
            tableOffset, "the program header table at offset " + std::to_string(tableOffset), size);
        return failed;
    }
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint64_t entry = tableOffset + i * entrySize;
        if (Little(file, entry, 4) != kLoadSegment) continue;
        std::uint64_t offset, physical, fileSize;
        if (wide) {
            offset = Little(file, entry + 8, 8);
            physical = Little(file, entry + 24, 8);
            fileSize = Little(file, entry + 32, 8);
        } else {
            offset = Little(file, entry + 4, 4);
            physical = Little(file, entry + 12, 4);
            fileSize = Little(file, entry + 16, 4);
        }
        if (fileSize == 0) continue;  // .bss alone: nothing to program
        if (offset > size || fileSize > size - offset) {
            collector.Fail(Truncated(entry,
                                     "the segment of program header " + std::to_string(i) +
                                         " (offset " + std::to_string(offset) + ", " +
                                         std::to_string(fileSize) + " bytes)",
                                     size));
            break;
        }
        if (physical > 0xFFFFFFFFull || physical + fileSize > 0x100000000ull) {
            collector.Fail(OffsetError(ImageFormatErrorKind::AddressBeyond32Bits, entry,
                                       "program header " + std::to_string(i) + " loads at " +
                                           Hex8(physical) + ", beyond address FFFFFFFF"));
            break;
        }
        if (!collector.Add(physical, file.substr(offset, fileSize), entry)) break;
    }
    return collector.Finish();
}

}  // namespace farsend::protocol

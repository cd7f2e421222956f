// An open firmware image file read as hexadecimal tokens.
//
// The file is read as raw bytes through its own buffer, so positions count
// bytes whatever the line-end convention, and every token knows its place
// (line and column, 1-based) for error reports. A format error is sticky:
// once recorded, every further read reports it again without consuming
// anything, so a caller can never mistake a malformed file for a finished one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/image_text.h"

namespace farsend::protocol {

enum class ImageFormatErrorKind {
    // A character that is neither a hexadecimal digit nor white space
    // (signs and "0x" prefixes included).
    NotHexadecimal,
    // A number that does not fit in 32 bits.
    TokenTooLarge,
    // A data byte before the file's first address token: it would land at
    // whatever address an earlier file left behind.
    DataBeforeAddress,
    // An address below the address of the next data byte: it goes backwards
    // or overlaps data already read.
    AddressGoesBackwards,
    // A data byte past address FFFFFFFF.
    AddressSpaceExhausted,
    // The file could not be read to its end.
    ReadFailed,
    // Well formed, but without a single data byte: programming it would
    // erase the target and write nothing, yet end as if it had worked.
    NoData,
    // The address-carrying formats (Intel HEX, S-records, ELF, raw binary);
    // `detail` says what exactly is wrong.
    RecordMalformed,      // a character, a length or a field that cannot be read
    RecordChecksum,       // the record's checksum does not match its bytes
    RecordCount,          // a byte count or a record count that does not add up
    RecordType,           // a record type the format does not have
    OddDigitCount,        // a record with half a byte at its end
    DataOverlaps,         // two records or segments claim the same address
    AddressBeyond32Bits,  // data past FFFFFFFF
    AddressTooLow,        // data below 100, which a firmware file cannot address
    EndRecordMissing,     // the file ends without its end record
    DataAfterEnd,         // records after the end record
    Truncated,            // the file ends inside a header or a segment
    Unsupported,          // a well-formed file of a kind not read (big-endian ELF)
};

// What an error's place is given as.
enum class ImageErrorPlace {
    LineColumn,  // token text
    Line,        // a record of Intel HEX or S-records
    Offset,      // a byte in a binary file (ELF, raw binary)
    WholeFile,
};

struct ImageFormatError {
    ImageFormatErrorKind kind = ImageFormatErrorKind::NotHexadecimal;
    std::uint64_t line = 1;    // 1-based
    std::uint64_t column = 1;  // 1-based, in bytes
    std::uint64_t offset = 0;  // byte offset in the file, 0-based
    // AddressGoesBackwards: the address read and the lowest one allowed there.
    std::uint32_t address = 0;
    std::uint64_t lowestAllowed = 0;
    ImageErrorPlace place = ImageErrorPlace::LineColumn;
    // The reason in words, for the address-carrying formats.
    std::string detail;
};

// One line for an operator, e.g. "line 3, column 7: not a hexadecimal number".
std::string DescribeImageFormatError(const ImageFormatError& error);

struct ImageToken {
    std::uint32_t value = 0;
    std::uint64_t offset = 0;  // of its first digit
    std::uint64_t line = 1;
    std::uint64_t column = 1;
};

enum class TokenStatus { Token, EndOfFile, Error };

class ImageFile {
public:
    ImageFile();
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // Opens `path` for reading as raw bytes. False when it cannot be opened.
    bool Open(const std::string& path);
    // Reads the given bytes instead of a file (tests, fuzzing, data already
    // in memory).
    void OpenBytes(std::string bytes);
    // Reads bytes shared with others, without copying them (a snapshot
    // that is checked, programmed and hashed as one).
    void OpenShared(std::shared_ptr<const std::string> bytes);
    // Reads segments (ascending, apart, at 100 or above) as the tokens that
    // FormatImageText writes for them with "\n" line ends, without making
    // the text: positions and size are those of that text.
    void OpenSegments(std::shared_ptr<const std::vector<ImageSegment>> segments);
    bool IsOpen() const { return open_; }
    // False when closing the file failed. Closing a closed file is harmless.
    bool Close();

    // Length in bytes, measured when opened.
    std::uint64_t Size() const { return size_; }
    // Bytes consumed so far. A token handed back with PushBack counts as
    // unread, so the position is that of its first digit.
    std::uint64_t Position() const;

    // The next token: a run of hexadecimal digits ended by white space or the
    // end of the file. Error when the text is malformed or unreadable (see
    // Error()).
    TokenStatus NextToken(ImageToken& token);
    // Hands one token back; the next NextToken returns it again.
    void PushBack(const ImageToken& token);

    // Records a format error found by the caller at `token`. The first error
    // recorded stays.
    void Fail(ImageFormatErrorKind kind, const ImageToken& token, std::uint64_t lowestAllowed = 0);
    // Records a format error at the current read position.
    void FailHere(ImageFormatErrorKind kind);
    const std::optional<ImageFormatError>& Error() const { return error_; }

    // Whether an address token has been read from this file; addresses are
    // only compared within one file.
    bool AddressSeen() const { return addressSeen_; }
    void NoteAddressSeen() { addressSeen_ = true; }

private:
    void Reset();
    bool Refill();
    int Peek();
    void Advance();

    std::FILE* file_ = nullptr;
    bool open_ = false;
    std::vector<char> buffer_;                   // file contents in chunks, or all the bytes
    std::shared_ptr<const std::string> shared_;  // or these bytes
    const char* base_ = nullptr;                 // start of whichever is read
    const char* cur_ = nullptr;
    const char* end_ = nullptr;
    std::uint64_t bufferOffset_ = 0;  // file offset of buffer_[0]
    std::uint64_t size_ = 0;
    bool endOfInput_ = false;
    bool readFailed_ = false;

    std::uint64_t line_ = 1;
    std::uint64_t column_ = 1;
    bool afterCarriageReturn_ = false;

    std::shared_ptr<const std::vector<ImageSegment>> segments_;
    std::size_t segment_ = 0;       // the segment read
    std::size_t segmentByte_ = 0;   // its next byte
    bool addressRead_ = false;      // its address token has been given
    std::uint64_t textOffset_ = 0;  // of the next token in that text
    std::uint64_t textRead_ = 0;    // where reading that text would stand
    TokenStatus NextSegmentToken(ImageToken& token);

    std::optional<ImageToken> pending_;
    std::optional<ImageFormatError> error_;
    bool addressSeen_ = false;
};

// A firmware file read whole at one moment: what a programming run checks,
// sends and reports the digest of, whatever happens to the file meanwhile.
struct ImageSnapshot {
    enum class Status { Read, OpenFailed, ReadFailed };
    Status status = Status::OpenFailed;
    // The file's bytes (Read only).
    std::shared_ptr<const std::string> bytes;
    // Closing the file failed after it was opened.
    bool closeFailed = false;
};

ImageSnapshot TakeImageSnapshot(const std::string& path);

}  // namespace farsend::protocol

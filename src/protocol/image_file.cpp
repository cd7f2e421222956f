#include "protocol/image_file.h"

#include <cinttypes>
#include <cstdio>

namespace farsend::protocol {

namespace {

constexpr std::size_t kChunkSize = 64 * 1024;

// The white space that separates tokens, in any line-end convention. Decided
// here rather than by the C locale.
bool IsSeparator(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int HexDigitValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 64-bit file positions on both platforms, so large files measure right.
bool SeekTo(std::FILE* file, std::int64_t offset, int whence) {
#if defined(_WIN32)
    return _fseeki64(file, offset, whence) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

std::int64_t Tell(std::FILE* file) {
#if defined(_WIN32)
    return _ftelli64(file);
#else
    return static_cast<std::int64_t>(ftello(file));
#endif
}

}  // namespace

std::string DescribeImageFormatError(const ImageFormatError& error) {
    char place[64];
    switch (error.place) {
        case ImageErrorPlace::LineColumn:
            std::snprintf(place, sizeof place, "line %" PRIu64 ", column %" PRIu64 ": ", error.line,
                          error.column);
            break;
        case ImageErrorPlace::Line:
            std::snprintf(place, sizeof place, "line %" PRIu64 ": ", error.line);
            break;
        case ImageErrorPlace::Offset:
            std::snprintf(place, sizeof place, "offset %" PRIu64 " (0x%" PRIX64 "): ", error.offset,
                          error.offset);
            break;
        case ImageErrorPlace::WholeFile:
            place[0] = '\0';
            break;
    }
    std::string text = place;
    if (!error.detail.empty()) return text + error.detail;
    switch (error.kind) {
        case ImageFormatErrorKind::NotHexadecimal:
            return text + "not a hexadecimal number";
        case ImageFormatErrorKind::TokenTooLarge:
            return text + "number too large for 32 bits";
        case ImageFormatErrorKind::DataBeforeAddress:
            return text + "data byte before the first address";
        case ImageFormatErrorKind::AddressGoesBackwards: {
            char detail[96];
            std::snprintf(detail, sizeof detail,
                          "address %08" PRIX32
                          " goes back over data already read (next is %08" PRIX64 ")",
                          error.address, error.lowestAllowed);
            return text + detail;
        }
        case ImageFormatErrorKind::AddressSpaceExhausted:
            return text + "data byte beyond address FFFFFFFF";
        case ImageFormatErrorKind::ReadFailed:
            return text + "the file could not be read";
        case ImageFormatErrorKind::NoData:
            // Not a place in the file but the file as a whole.
            return "no data bytes: programming it would only erase the target";
        case ImageFormatErrorKind::RecordMalformed:
        case ImageFormatErrorKind::RecordChecksum:
        case ImageFormatErrorKind::RecordCount:
        case ImageFormatErrorKind::RecordType:
        case ImageFormatErrorKind::OddDigitCount:
        case ImageFormatErrorKind::DataOverlaps:
        case ImageFormatErrorKind::AddressBeyond32Bits:
        case ImageFormatErrorKind::AddressTooLow:
        case ImageFormatErrorKind::EndRecordMissing:
        case ImageFormatErrorKind::DataAfterEnd:
        case ImageFormatErrorKind::Truncated:
        case ImageFormatErrorKind::Unsupported:
            break;  // their readers always give the detail
    }
    return text + "malformed firmware file";
}

ImageFile::ImageFile() = default;

ImageFile::~ImageFile() {
    Close();
}

void ImageFile::Reset() {
    buffer_.clear();
    shared_.reset();
    base_ = cur_ = end_ = nullptr;
    bufferOffset_ = 0;
    size_ = 0;
    endOfInput_ = false;
    readFailed_ = false;
    line_ = 1;
    column_ = 1;
    afterCarriageReturn_ = false;
    segments_.reset();
    segment_ = segmentByte_ = 0;
    addressRead_ = false;
    textOffset_ = 0;
    textRead_ = 0;
    pending_.reset();
    error_.reset();
    addressSeen_ = false;
}

bool ImageFile::Open(const std::string& path) {
    Close();
    Reset();
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) return false;
    std::int64_t length = -1;
    if (SeekTo(file_, 0, SEEK_END)) length = Tell(file_);
    if (!SeekTo(file_, 0, SEEK_SET)) length = -1;
    // Something that cannot be measured (a pipe, a directory) still reads
    // through the buffer; only the progress display lacks its size.
    size_ = length > 0 ? static_cast<std::uint64_t>(length) : 0;
    buffer_.resize(kChunkSize);
    base_ = cur_ = end_ = buffer_.data();
    open_ = true;
    return true;
}

void ImageFile::OpenBytes(std::string bytes) {
    Close();
    Reset();
    buffer_.assign(bytes.begin(), bytes.end());
    base_ = cur_ = buffer_.data();
    end_ = cur_ + buffer_.size();
    size_ = buffer_.size();
    endOfInput_ = true;  // everything is already in the buffer
    open_ = true;
}

void ImageFile::OpenShared(std::shared_ptr<const std::string> bytes) {
    Close();
    Reset();
    shared_ = std::move(bytes);
    if (!shared_) shared_ = std::make_shared<const std::string>();
    base_ = cur_ = shared_->data();
    end_ = cur_ + shared_->size();
    size_ = shared_->size();
    endOfInput_ = true;
    open_ = true;
}

void ImageFile::OpenSegments(std::shared_ptr<const std::vector<ImageSegment>> segments) {
    Close();
    Reset();
    segments_ = std::move(segments);
    if (!segments_) segments_ = std::make_shared<const std::vector<ImageSegment>>();
    for (const ImageSegment& segment : *segments_) size_ += 9 + 3 * segment.bytes.size();
    endOfInput_ = true;
    open_ = true;
}

TokenStatus ImageFile::NextSegmentToken(ImageToken& token) {
    const std::vector<ImageSegment>& segments = *segments_;
    while (segment_ < segments.size() && segments[segment_].bytes.empty()) ++segment_;
    if (segment_ >= segments.size()) {
        textRead_ = size_;  // past the last line end
        return TokenStatus::EndOfFile;
    }
    const ImageSegment& segment = segments[segment_];
    token = ImageToken{};
    token.offset = textOffset_;
    if (!addressRead_) {
        addressRead_ = true;
        token.value = segment.address;
        textRead_ = textOffset_ + 8;
        textOffset_ += 9;  // eight digits and the line end
        return TokenStatus::Token;
    }
    token.value = segment.bytes[segmentByte_];
    textRead_ = textOffset_ + 2;
    textOffset_ += 3;  // two digits and a blank or line end
    if (++segmentByte_ == segment.bytes.size()) {
        ++segment_;
        segmentByte_ = 0;
        addressRead_ = false;
    }
    return TokenStatus::Token;
}

bool ImageFile::Close() {
    bool ok = true;
    if (file_ != nullptr) {
        ok = std::fclose(file_) == 0;
        file_ = nullptr;
    }
    open_ = false;
    return ok;
}

std::uint64_t ImageFile::Position() const {
    if (pending_) return pending_->offset;
    if (segments_) return textRead_;
    return bufferOffset_ + static_cast<std::uint64_t>(cur_ - base_);
}

bool ImageFile::Refill() {
    if (endOfInput_ || file_ == nullptr) return false;
    bufferOffset_ += static_cast<std::uint64_t>(end_ - base_);
    const std::size_t n = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    base_ = cur_ = buffer_.data();
    end_ = cur_ + n;
    if (n == 0) {
        endOfInput_ = true;
        readFailed_ = std::ferror(file_) != 0;
        return false;
    }
    return true;
}

int ImageFile::Peek() {
    if (cur_ == end_ && !Refill()) return -1;
    return static_cast<unsigned char>(*cur_);
}

// Only called after a successful Peek.
void ImageFile::Advance() {
    const char c = *cur_++;
    if (c == '\r') {
        ++line_;
        column_ = 1;
        afterCarriageReturn_ = true;
        return;
    }
    if (c == '\n') {
        if (!afterCarriageReturn_) {
            ++line_;
            column_ = 1;
        }
    } else {
        ++column_;
    }
    afterCarriageReturn_ = false;
}

void ImageFile::FailHere(ImageFormatErrorKind kind) {
    ImageToken here;
    here.offset = Position();
    here.line = line_;
    here.column = column_;
    Fail(kind, here);
}

void ImageFile::Fail(ImageFormatErrorKind kind, const ImageToken& token,
                     std::uint64_t lowestAllowed) {
    if (error_) return;
    ImageFormatError error;
    error.kind = kind;
    error.line = token.line;
    error.column = token.column;
    error.offset = token.offset;
    error.address = token.value;
    error.lowestAllowed = lowestAllowed;
    error_ = error;
}

void ImageFile::PushBack(const ImageToken& token) {
    pending_ = token;
}

TokenStatus ImageFile::NextToken(ImageToken& token) {
    if (error_) return TokenStatus::Error;
    if (!open_) {
        // Reading a file that is not open is never a finished file.
        FailHere(ImageFormatErrorKind::ReadFailed);
        return TokenStatus::Error;
    }
    if (pending_) {
        token = *pending_;
        pending_.reset();
        return TokenStatus::Token;
    }
    if (segments_) return NextSegmentToken(token);

    int c = Peek();
    while (c >= 0 && IsSeparator(c)) {
        Advance();
        c = Peek();
    }
    if (c < 0) {
        if (readFailed_) {
            FailHere(ImageFormatErrorKind::ReadFailed);
            return TokenStatus::Error;
        }
        return TokenStatus::EndOfFile;
    }

    token = ImageToken{};
    token.offset = Position();
    token.line = line_;
    token.column = column_;
    std::uint64_t value = 0;
    bool tooLarge = false;
    int digit = HexDigitValue(c);
    if (digit < 0) {
        FailHere(ImageFormatErrorKind::NotHexadecimal);
        return TokenStatus::Error;
    }
    do {
        if (!tooLarge) {
            value = value * 16 + static_cast<std::uint64_t>(digit);
            tooLarge = value > 0xFFFFFFFFu;
        }
        Advance();
        c = Peek();
        digit = c < 0 ? -1 : HexDigitValue(c);
    } while (digit >= 0);

    if (c < 0 && readFailed_) {
        FailHere(ImageFormatErrorKind::ReadFailed);
        return TokenStatus::Error;
    }
    if (tooLarge) {
        Fail(ImageFormatErrorKind::TokenTooLarge, token);
        return TokenStatus::Error;
    }
    // "12G", "0x10", "1,2": a token must end at white space or the end.
    if (c >= 0 && !IsSeparator(c)) {
        FailHere(ImageFormatErrorKind::NotHexadecimal);
        return TokenStatus::Error;
    }
    token.value = static_cast<std::uint32_t>(value);
    return TokenStatus::Token;
}

ImageSnapshot TakeImageSnapshot(const std::string& path) {
    ImageSnapshot snapshot;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return snapshot;
    auto bytes = std::make_shared<std::string>();
    // Sized from the length first, so a large image is read without
    // regrowing; a file that grows or shrinks meanwhile is still read to its
    // end, as it is at that moment.
    // Something that cannot be positioned (a pipe) is read from where it is.
    std::int64_t length = -1;
    const bool atEnd = SeekTo(file, 0, SEEK_END);
    if (atEnd) length = Tell(file);
    const bool rewound = SeekTo(file, 0, SEEK_SET);
    // A directory measures as an absurd length: reserve only what a firmware
    // file can plausibly be, and let anything longer grow as it is read.
    constexpr std::int64_t kLargestReserve = 64 * 1024 * 1024;
    if (rewound && length > 0 && length <= kLargestReserve) {
        bytes->reserve(static_cast<std::size_t>(length));
    }
    char chunk[kChunkSize / 4];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->append(chunk, n);
    const bool readFailed = (atEnd && !rewound) || std::ferror(file) != 0;
    snapshot.closeFailed = std::fclose(file) != 0;
    if (readFailed) {
        snapshot.status = ImageSnapshot::Status::ReadFailed;
        return snapshot;
    }
    snapshot.status = ImageSnapshot::Status::Read;
    snapshot.bytes = std::move(bytes);
    return snapshot;
}

}  // namespace farsend::protocol

#include "sim/flash_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace farsend::sim {

namespace {
constexpr int kBytesPerLine = 16;
const char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& out, uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

// Turns programmed bytes, given in address order, into the file's text.
class FlashText {
public:
    explicit FlashText(std::string& out) : out_(out) {}

    void Add(uint32_t address, uint8_t value) {
        if (!in_run_ || address != expected_) {
            if (on_line_ > 0) out_ += '\n';
            AppendHex(out_, address, 8);
            out_ += '\n';
            on_line_ = 0;
            in_run_ = true;
        }
        if (on_line_ > 0) out_ += ' ';
        AppendHex(out_, value, 2);
        if (++on_line_ == kBytesPerLine) {
            out_ += '\n';
            on_line_ = 0;
        }
        // An address at the very top of the range ends its run: the next one
        // cannot be consecutive.
        in_run_ = address != UINT32_MAX;
        expected_ = address + 1;
    }
    void Finish() {
        if (on_line_ > 0) out_ += '\n';
        on_line_ = 0;
    }

private:
    std::string& out_;
    bool in_run_ = false;
    uint32_t expected_ = 0;
    int on_line_ = 0;
};

// Writes the text as it grows, so that a large flash never stands in memory
// as a whole file.
class FlashFileWriter {
public:
    static constexpr size_t kChunk = 64 * 1024;

    bool Open(const std::string& path, std::string& error) {
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) error = "cannot create " + path + ": " + std::strerror(errno);
        return file_ != nullptr;
    }
    void Add(uint32_t address, uint8_t value) {
        text_.Add(address, value);
        if (buffer_.size() >= kChunk) Flush();
    }
    bool Close(const std::string& path, std::string& error) {
        text_.Finish();
        Flush();
        const bool closed = std::fclose(file_) == 0;
        if (!ok_ || !closed) {
            error = "cannot write " + path;
            return false;
        }
        return true;
    }

private:
    void Flush() {
        ok_ = ok_ && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
        buffer_.clear();
    }
    std::FILE* file_ = nullptr;
    std::string buffer_;
    FlashText text_{buffer_};
    bool ok_ = true;
};

}  // namespace

void FlashPages::Write(uint32_t address, uint8_t value) {
    Page& page = pages_[address / kPageSize];
    page.bytes[address % kPageSize] = value;
    page.written.set(address % kPageSize);
}

void FlashPages::Clear() {
    pages_.clear();
}

FlashContents FlashPages::Contents() const {
    FlashContents contents;
    ForEach([&](uint32_t address, uint8_t value) {
        contents.emplace_hint(contents.end(), address, value);
    });
    return contents;
}

std::string FormatFlashFile(const FlashContents& flash) {
    std::string out;
    FlashText text(out);
    for (const auto& [address, value] : flash) text.Add(address, value);
    text.Finish();
    return out;
}

bool WriteFlashFile(const std::string& path, const FlashContents& flash, std::string& error) {
    FlashFileWriter writer;
    if (!writer.Open(path, error)) return false;
    for (const auto& [address, value] : flash) writer.Add(address, value);
    return writer.Close(path, error);
}

bool WriteFlashFile(const std::string& path, const FlashPages& flash, std::string& error) {
    FlashFileWriter writer;
    if (!writer.Open(path, error)) return false;
    flash.ForEach([&](uint32_t address, uint8_t value) { writer.Add(address, value); });
    return writer.Close(path, error);
}

}  // namespace farsend::sim

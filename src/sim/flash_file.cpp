#include "sim/flash_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/record_file.h"

namespace farsend::sim {

namespace {
constexpr int kBytesPerLine = 16;
const char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& out, uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

// Writes the text as it grows, so that a large flash never stands in memory
// as a whole file.
class FlashFileWriter {
public:
    static constexpr size_t kChunk = 64 * 1024;

    bool Open(const std::string& path, std::string& error) {
        file_ = OpenRecordFile(path, "wb");
        if (file_ == nullptr) error = "cannot create " + path + ": " + std::strerror(errno);
        return file_ != nullptr;
    }
    void Add(uint32_t address, uint8_t value) {
        text_.Add(address, value);
        if (text_.Text().size() >= kChunk) Flush(text_.TakeText());
    }
    bool Close(const std::string& path, std::string& error) {
        Flush(text_.TakeText() + text_.Tail());
        const bool closed = std::fclose(file_) == 0;
        if (!ok_ || !closed) {
            error = "cannot write " + path;
            return false;
        }
        return true;
    }

private:
    void Flush(const std::string& text) {
        ok_ = ok_ && std::fwrite(text.data(), 1, text.size(), file_) == text.size();
    }
    std::FILE* file_ = nullptr;
    FlashText text_;
    bool ok_ = true;
};

}  // namespace

void FlashText::Add(uint32_t address, uint8_t value) {
    // An address at the very top of the range ends its run: nothing after it
    // can be consecutive.
    const bool continues = any_ && last_ != UINT32_MAX && address == last_ + 1;
    if (!continues) {
        if (on_line_ > 0) out_ += '\n';
        AppendHex(out_, address, 8);
        out_ += '\n';
        on_line_ = 0;
    }
    if (on_line_ > 0) out_ += ' ';
    AppendHex(out_, value, 2);
    if (++on_line_ == kBytesPerLine) {
        out_ += '\n';
        on_line_ = 0;
    }
    any_ = true;
    last_ = address;
}

void FlashText::Clear() {
    out_.clear();
    any_ = false;
    last_ = 0;
    on_line_ = 0;
}

std::string FlashText::TakeText() {
    std::string text;
    text.swap(out_);
    return text;
}

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
    FlashText text;
    for (const auto& [address, value] : flash) text.Add(address, value);
    return text.Text() + text.Tail();
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

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
}  // namespace

std::string FormatFlashFile(const FlashContents& flash) {
    std::string out;
    bool in_run = false;
    uint32_t expected = 0;
    int on_line = 0;
    for (const auto& [address, value] : flash) {
        if (!in_run || address != expected) {
            if (on_line > 0) out += '\n';
            AppendHex(out, address, 8);
            out += '\n';
            on_line = 0;
            in_run = true;
        }
        if (on_line > 0) out += ' ';
        AppendHex(out, value, 2);
        if (++on_line == kBytesPerLine) {
            out += '\n';
            on_line = 0;
        }
        // An address at the very top of the range ends its run: the next one
        // cannot be consecutive.
        in_run = address != UINT32_MAX;
        expected = address + 1;
    }
    if (on_line > 0) out += '\n';
    return out;
}

bool WriteFlashFile(const std::string& path, const FlashContents& flash, std::string& error) {
    const std::string text = FormatFlashFile(flash);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace farsend::sim

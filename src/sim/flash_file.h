// The simulated target's flash and the firmware file written from it.
//
// Only programmed bytes are kept (an erased flash is empty). The file lists
// every run of consecutive programmed addresses as an 8-digit address token on
// its own line, followed by the run's bytes as 2-digit tokens, 16 to a line.
// Hex digits are upper case, lines end in "\n" on every platform, so the same
// flash gives the same file everywhere, and the image reader reads it back.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <string>

namespace farsend::sim {

using FlashContents = std::map<uint32_t, uint8_t>;

// The flash as the target keeps it: 256-byte pages with a mark per programmed
// byte. A byte costs about one byte here, where a FlashContents entry costs
// some fifty, which matters once a megabyte is programmed.
class FlashPages {
public:
    void Write(uint32_t address, uint8_t value);
    void Clear();
    bool Empty() const { return pages_.empty(); }
    // Every programmed byte, by address.
    FlashContents Contents() const;
    // Calls visit(address, value) for every programmed byte, in address order.
    template <typename Visit>
    void ForEach(Visit&& visit) const {
        for (const auto& [number, page] : pages_) {
            for (uint32_t offset = 0; offset < kPageSize; ++offset) {
                if (page.written[offset]) visit(number * kPageSize + offset, page.bytes[offset]);
            }
        }
    }

private:
    static constexpr uint32_t kPageSize = 256;
    struct Page {
        std::array<uint8_t, kPageSize> bytes{};
        std::bitset<kPageSize> written;
    };
    std::map<uint32_t, Page> pages_;  // by address / kPageSize
};

// The file's text, built from programmed bytes given in address order. What
// it holds plus Tail() is the whole file for the bytes added so far, so a
// flash that grows block by block need not be formatted again from the start.
class FlashText {
public:
    void Add(uint32_t address, uint8_t value);
    // Whether `address` may come next: above every address added so far.
    bool Follows(uint32_t address) const { return !any_ || (address > last_); }
    void Clear();
    const std::string& Text() const { return out_; }
    // What ends the file: the last line's end, when that line is still open.
    const char* Tail() const { return on_line_ > 0 ? "\n" : ""; }
    // Hands over the text so far and keeps only what the next byte needs to
    // know (for writing a large flash out in pieces).
    std::string TakeText();

private:
    std::string out_;
    bool any_ = false;
    uint32_t last_ = 0;
    int on_line_ = 0;
};

std::string FormatFlashFile(const FlashContents& flash);

// Writes the file; on failure `error` says which file and why.
bool WriteFlashFile(const std::string& path, const FlashContents& flash, std::string& error);
bool WriteFlashFile(const std::string& path, const FlashPages& flash, std::string& error);

}  // namespace farsend::sim

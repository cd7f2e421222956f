// Writes firmware image text in the form the image reader takes: each
// segment's address as 8 hexadecimal digits on a line of its own, then its
// bytes, 16 to a line. Used to make test, demo and benchmark images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace farsend::protocol {

struct ImageSegment {
    // At least 0x100: smaller values would read back as data bytes.
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
};

// Line ends are "\r\n" when `crlf` is set, else "\n".
std::string FormatImageText(const std::vector<ImageSegment>& segments, bool crlf = false);

}  // namespace farsend::protocol

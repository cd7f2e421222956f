// Fuzzes the raw binary reader: the first four bytes are the base address,
// the rest the file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "decoded_image_check.h"
#include "protocol/image_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint32_t base =
        static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
        static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    const std::string_view input(reinterpret_cast<const char*>(data + 4), size - 4);
    farsend::fuzzing::CheckDecodedImage(farsend::protocol::ReadBinary(input, base), input);
    return 0;
}

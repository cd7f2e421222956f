// Fuzzes the ELF reader with arbitrary file contents: whatever it is
// given, it ends with a refusal that names a place inside the file, or with
// segments that a programming run and the writers carry unchanged.
#include "protocol/elf_reader.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "decoded_image_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    farsend::fuzzing::CheckDecodedImage(farsend::protocol::ReadElf(input), input);
    return 0;
}

#include "cli/format_hint.h"

#include <cstdio>

namespace farsend::cli {

std::string FormatHint(const std::string& path, const protocol::ImageFormatError& error) {
    if (error.kind != protocol::ImageFormatErrorKind::NotHexadecimal || error.offset != 0) {
        return {};
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return {};
    const int first = std::fgetc(file);
    std::fclose(file);
    if (first == ':') {
        // Read as tokens only when --format token says so.
        return "\nThis looks like an Intel HEX file (records that start with ':'): leave out "
               "--format token to read it as one.";
    }
    if (first >= 0 && (first < 0x20 || first >= 0x7F) && first != '\t' && first != '\r' &&
        first != '\n') {
        return "\nThis looks like a binary file: a raw binary image needs --format bin --base "
               "ADDR, the address of its first byte.";
    }
    return {};
}

}  // namespace farsend::cli

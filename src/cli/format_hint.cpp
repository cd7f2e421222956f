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
    if (first != ':') return {};
    return "\nThis looks like an Intel HEX file (records that start with ':'). Firmware files "
           "here are hexadecimal tokens separated by blanks: an 8-digit address, then 2-digit "
           "data bytes.";
}

}  // namespace farsend::cli

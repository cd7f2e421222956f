// A hint after a format error, for files of another format that are
// commonly mistaken for ours.
#pragma once

#include <string>

#include "protocol/image_file.h"

namespace farsend::cli {

// "" when there is nothing to add; else a line that starts with a newline.
std::string FormatHint(const std::string& path, const protocol::ImageFormatError& error);

}  // namespace farsend::cli

// The page's files (HTML, script, style), built into the program from
// src/line/page/ so that the page needs nothing beyond the station.
#pragma once

#include <cstddef>
#include <string_view>

namespace farsend::line {

struct PageAsset {
    const char* path;  // "/index.html"
    const char* type;  // its Content-Type
    const unsigned char* data;
    std::size_t size;
};

// The file served at `path` ("/" is "/index.html"); null when none.
const PageAsset* FindPageAsset(std::string_view path);

}  // namespace farsend::line

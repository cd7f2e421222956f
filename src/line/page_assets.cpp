#include "line/page_assets.h"

namespace farsend::line {

// Written at build time by cmake/EmbedPageAssets.cmake.
extern const PageAsset kPageAssets[];
extern const std::size_t kPageAssetCount;

const PageAsset* FindPageAsset(std::string_view path) {
    if (path == "/") path = "/index.html";
    for (std::size_t i = 0; i < kPageAssetCount; ++i) {
        if (path == kPageAssets[i].path) return &kPageAssets[i];
    }
    return nullptr;
}

}  // namespace farsend::line

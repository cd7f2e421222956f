#include "evidence/flash_compare.h"

#include <cstdio>

#include "protocol/image_file.h"
#include "protocol/image_reader.h"

namespace farsend::evidence {

std::optional<ByteMap> ReadByteMap(const std::string& path, std::string& error) {
    const std::optional<protocol::ProgrammingPlan> plan = protocol::PlanProgrammingFile(path);
    if (!plan) {
        error = path + ": cannot be opened";
        return std::nullopt;
    }
    if (plan->error) {
        error = path + ": " + protocol::DescribeImageFormatError(*plan->error);
        return std::nullopt;
    }
    ByteMap bytes;
    for (const protocol::FlashBlock& block : plan->blocks) {
        for (uint32_t i = 0; i < block.count && i < block.data.size(); ++i) {
            bytes[block.baseAddress + i] = block.data[i];
        }
    }
    return bytes;
}

std::string FirstDifference(const ByteMap& flash, const ByteMap& image) {
    char text[96];
    auto f = flash.begin();
    auto i = image.begin();
    while (f != flash.end() || i != image.end()) {
        if (i == image.end() || (f != flash.end() && f->first < i->first)) {
            std::snprintf(text, sizeof text, "0x%X: %02X in the flash, not in the image",
                          static_cast<unsigned>(f->first), f->second);
            return text;
        }
        if (f == flash.end() || i->first < f->first) {
            std::snprintf(text, sizeof text, "0x%X: missing from the flash (image %02X)",
                          static_cast<unsigned>(i->first), i->second);
            return text;
        }
        if (f->second != i->second) {
            std::snprintf(text, sizeof text, "0x%X: flash %02X, image %02X",
                          static_cast<unsigned>(f->first), f->second, i->second);
            return text;
        }
        ++f;
        ++i;
    }
    return "";
}

}  // namespace farsend::evidence

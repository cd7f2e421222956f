// What a farsend child left behind, read back: a firmware or flash file as
// the image reader reads it, and the JSON lines of --report or --json.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/image_reader.h"

namespace farsend::testing {

// Address -> byte; empty when the file is missing or malformed.
inline std::map<uint32_t, uint8_t> ContentsOf(const std::string& path) {
    std::map<uint32_t, uint8_t> contents;
    const auto plan = protocol::PlanProgrammingFile(path);
    if (!plan || plan->error) return contents;
    for (const protocol::FlashBlock& block : plan->blocks) {
        for (uint32_t i = 0; i < block.count; ++i) contents[block.baseAddress + i] = block.data[i];
    }
    return contents;
}

inline std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

}  // namespace farsend::testing

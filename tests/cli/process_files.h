// Scratch files for one child process's standard streams.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_directory.h"

namespace farsend::testing {

struct ProcessFiles {
    TempDirectory directory;
    std::filesystem::path in = directory.path() / "stdin";
    std::filesystem::path out = directory.path() / "stdout";
    std::filesystem::path err = directory.path() / "stderr";

    explicit ProcessFiles(const std::string& input) {
        std::ofstream(in, std::ios::binary) << input;
    }
    static std::string Read(const std::filesystem::path& path) {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
};

}  // namespace farsend::testing

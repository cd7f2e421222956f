// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace farsend::testing {

class TempDirectory {
public:
    TempDirectory() {
        std::random_device entropy;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const uint32_t tag = entropy();
            std::filesystem::path candidate = base / ("farsend-test-" + std::to_string(tag));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot create a temporary directory");
    }
    ~TempDirectory() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Creates a small file (and missing parent folders) below the directory.
    std::filesystem::path Touch(const std::filesystem::path& relative,
                                const std::string& contents = "00004000 01\n") const {
        const std::filesystem::path full = path_ / relative;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << contents;
        return full;
    }
    std::filesystem::path MakeDirectory(const std::filesystem::path& relative) const {
        const std::filesystem::path full = path_ / relative;
        std::filesystem::create_directories(full);
        return full;
    }

private:
    std::filesystem::path path_;
};

}  // namespace farsend::testing

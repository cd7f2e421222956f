// Sample firmware images in the token format the image reader takes (8-digit
// address tokens, 2-digit data tokens, white space between), for demos and
// tests. The set covers every variant, hardware version and image kind,
// named so that auto-selection finds each one; its contents are fixed, the
// same on every run and every platform.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace farsend::sim {

// Consecutive data bytes starting at `address`.
struct ImageRun {
    uint32_t address = 0;
    std::vector<uint8_t> data;
};

// The token text of an image: each run as its address token (8 hex digits)
// on a line of its own, then its bytes, 16 two-digit tokens to a line. The
// runs are written as given, so tests can also build images that break the
// format's rules (addresses below 0x100, going backwards, overlapping).
std::string FormatImage(const std::vector<ImageRun>& runs, const std::string& lineEnd = "\r\n");

// Writes FormatImage(runs) to `file` as raw bytes. Returns false and sets
// `error` (if given) when the file cannot be written.
bool WriteImageFile(const std::filesystem::path& file, const std::vector<ImageRun>& runs,
                    std::string* error = nullptr);

enum class SampleVariant { Bluetooth, ZigBee };
enum class SampleVersion { V1_0, V1_5, V2_0 };

struct SampleImage {
    SampleVariant variant;
    SampleVersion version;
    bool factory;          // bootloader and application
    std::string fileName;  // e.g. "Farsend_15_bt_f.hex"
    std::vector<ImageRun> runs;

    size_t DataBytes() const;
};

// "Farsend_<10|15|20>_<bt|802>[_f].hex".
std::string SampleFileName(SampleVariant variant, SampleVersion version, bool factory);

// The whole set: 2 variants x 3 versions x application/factory, 12 images.
// Application images start at 0x4000 behind a 16 KB bootloader; factory
// images carry that bootloader from 0x100 on. Each holds 60 to 200 KB of
// data in several runs separated by gaps, at least one run ending inside a
// 256-byte block; the ZigBee 2.0 application image ends exactly on a 256-byte
// boundary, all others end inside a block.
std::vector<SampleImage> SampleImageSet();

// Writes the set into `directory` (created when missing). Returns false and
// sets `error` (if given) when something cannot be written.
bool WriteSampleSet(const std::filesystem::path& directory, std::string* error = nullptr);

}  // namespace farsend::sim

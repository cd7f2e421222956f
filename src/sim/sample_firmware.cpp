#include "sim/sample_firmware.h"

#include <cstdio>
#include <fstream>
#include <system_error>

namespace farsend::sim {
namespace {

constexpr uint32_t kBootloaderStart = 0x00000100;  // the lowest address a file can name
constexpr uint32_t kApplicationStart = 0x00004000;
constexpr uint32_t kBlock = 256;

// xorshift32: the same sequence on every platform and compiler.
class SampleRandom {
public:
    explicit SampleRandom(uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // In [low, high].
    uint32_t Between(uint32_t low, uint32_t high) { return low + Next() % (high - low + 1); }

private:
    uint32_t state_;
};

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

const char* VariantTag(SampleVariant variant) {
    return variant == SampleVariant::Bluetooth ? "bt" : "802";
}

const char* VersionTag(SampleVersion version) {
    switch (version) {
        case SampleVersion::V1_0:
            return "10";
        case SampleVersion::V1_5:
            return "15";
        case SampleVersion::V2_0:
            return "20";
    }
    return "";
}

// Code-like contents: a table of little-endian entry addresses into the run
// (odd, as for Thumb code), an identification string, then instructions that
// look random, broken by stretches of erased (0xFF) and zeroed padding.
std::vector<uint8_t> RunContents(SampleRandom& random, uint32_t address, uint32_t length,
                                 const std::string& identification) {
    std::vector<uint8_t> data;
    data.reserve(length);
    const uint32_t entries = length >= 256 ? 16 : 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t target = (address + 64 + random.Next() % (length - 64)) | 1u;
        for (int byte = 0; byte < 4; ++byte)
            data.push_back(static_cast<uint8_t>(target >> (8 * byte)));
    }
    if (length >= 512) data.insert(data.end(), identification.begin(), identification.end());
    while (data.size() < length) {
        const uint32_t choice = random.Next() % 64;
        const uint32_t stretch = random.Between(8, 300);
        const uint8_t fill = choice == 0 ? 0xFF : (choice == 1 ? 0x00 : 0);
        for (uint32_t i = 0; i < stretch && data.size() < length; ++i) {
            data.push_back(choice <= 1 ? fill : static_cast<uint8_t>(random.Next() >> 24));
        }
    }
    return data;
}

SampleImage MakeSample(SampleVariant variant, SampleVersion version, bool factory) {
    SampleImage image{variant, version, factory, SampleFileName(variant, version, factory), {}};
    const uint32_t seed = 0x46415253u ^ (static_cast<uint32_t>(variant) << 8) ^
                          (static_cast<uint32_t>(version) << 4) ^ (factory ? 1u : 0u);
    SampleRandom random(seed * 2654435761u);
    const std::string id = std::string("FARSEND ") + VariantTag(variant) + " " +
                           VersionTag(version) + (factory ? " FACTORY" : " APP");

    auto addRun = [&](uint32_t address, uint32_t length) {
        image.runs.push_back({address, RunContents(random, address, length, id)});
    };
    auto nextStart = [&](uint32_t gap) {
        const ImageRun& last = image.runs.back();
        return AlignUp(last.address + static_cast<uint32_t>(last.data.size()) + gap, 0x100);
    };

    if (factory) {
        // The bootloader: one run that ends inside a block.
        addRun(kBootloaderStart, random.Between(0x2400, 0x3A00) | 0x5);
        // Its configuration page, at an address that does not start a block.
        addRun(0x3F80, random.Between(0x20, 0x60));
    }
    // The application's code: ends inside a block.
    addRun(kApplicationStart, random.Between(47000, 100000) | 1u);
    // A constant table that starts mid-block, behind a gap.
    addRun(nextStart(0x800) + 0x40, random.Between(1500, 4000));
    // Resources, behind a larger gap.
    addRun(nextStart(0x4000), random.Between(12000, 40000));

    // The last run: for one image a whole number of blocks from a block
    // boundary, so the file ends exactly on a 256-byte boundary.
    const bool endOnBoundary =
        variant == SampleVariant::ZigBee && version == SampleVersion::V2_0 && !factory;
    const uint32_t lastStart = nextStart(0x1000);
    const uint32_t lastLength =
        endOnBoundary ? random.Between(8, 24) * kBlock : random.Between(2000, 9000) | 3u;
    addRun(lastStart, lastLength);
    return image;
}

void AppendHex(std::string& out, uint32_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out.push_back(kDigits[(value >> shift) & 0xF]);
}

}  // namespace

size_t SampleImage::DataBytes() const {
    size_t total = 0;
    for (const ImageRun& run : runs) total += run.data.size();
    return total;
}

std::string SampleFileName(SampleVariant variant, SampleVersion version, bool factory) {
    return std::string("Farsend_") + VersionTag(version) + "_" + VariantTag(variant) +
           (factory ? "_f" : "") + ".hex";
}

std::string FormatImage(const std::vector<ImageRun>& runs, const std::string& lineEnd) {
    std::string text;
    for (const ImageRun& run : runs) {
        AppendHex(text, run.address, 8);
        text += lineEnd;
        for (size_t i = 0; i < run.data.size(); ++i) {
            AppendHex(text, run.data[i], 2);
            const bool lineFull = i % 16 == 15 || i + 1 == run.data.size();
            if (lineFull) {
                text += lineEnd;
            } else {
                text.push_back(' ');
            }
        }
    }
    return text;
}

bool WriteImageFile(const std::filesystem::path& file, const std::vector<ImageRun>& runs,
                    std::string* error) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    const std::string text = FormatImage(runs);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        if (error) *error = "cannot write " + file.u8string();
        return false;
    }
    return true;
}

std::vector<SampleImage> SampleImageSet() {
    std::vector<SampleImage> set;
    for (SampleVariant variant : {SampleVariant::Bluetooth, SampleVariant::ZigBee}) {
        for (SampleVersion version :
             {SampleVersion::V1_0, SampleVersion::V1_5, SampleVersion::V2_0}) {
            for (bool factory : {false, true}) set.push_back(MakeSample(variant, version, factory));
        }
    }
    return set;
}

bool WriteSampleSet(const std::filesystem::path& directory, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) {
        if (error) *error = "cannot create " + directory.u8string() + ": " + ec.message();
        return false;
    }
    for (const SampleImage& image : SampleImageSet()) {
        if (!WriteImageFile(directory / image.fileName, image.runs, error)) return false;
    }
    return true;
}

}  // namespace farsend::sim

// What a firmware file's name says about the image. Every test looks only at
// the name part of its argument, so a full path and a bare name classify
// alike; an empty path answers false everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace farsend::firmware {

// The final component of a path: file name and extension. '\', '/' and a
// leading drive "X:" separate components on every platform, so that names
// built on Windows classify the same everywhere.
std::string GetFileNamePart(std::string_view path);

// "_f." or "_f_": bootloader and application.
bool IsFactoryImageName(std::string_view path);
// "_intel": never chosen by auto-selection.
bool HasIntelMarker(std::string_view path);
// "_802" or "+802".
bool IsZigBeeImageName(std::string_view path);
// "_bt", "+bt", "_bluetooth" or "+bluetooth".
bool IsBluetoothImageName(std::string_view path);

// The first decimal digit of the name part (its last character excepted) is
// the major version; the decimal number right after it is the minor version.
// Returns false and leaves the outputs untouched when there is no such digit.
bool ParseImageVersion(std::string_view path, int32_t& major, int32_t& minor);

struct ImageVersion {
    int32_t major = 0;
    int32_t minor = 0;
    bool operator==(const ImageVersion& other) const {
        return major == other.major && minor == other.minor;
    }
};
// The version pair, (0, 0) when the name has none.
ImageVersion ImageVersionOf(std::string_view path);

}  // namespace farsend::firmware

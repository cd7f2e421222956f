#include "firmware/image_names.h"

#include <climits>
#include <initializer_list>

namespace farsend::firmware {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerNamePart(std::string_view path) {
    std::string name = GetFileNamePart(path);
    for (char& c : name) c = AsciiLower(c);
    return name;
}

bool NameContainsAny(std::string_view path, std::initializer_list<std::string_view> markers) {
    if (path.empty()) return false;
    const std::string name = LowerNamePart(path);
    for (std::string_view marker : markers) {
        if (name.find(marker) != std::string::npos) return true;
    }
    return false;
}

bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal conversion as strtol does it (leading white space, an optional
// sign, digits up to the first non-digit, 0 without digits), saturating at
// the limits of a 32-bit integer instead of overflowing.
int32_t DecimalPrefix(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; i < text.size() && IsDecimalDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

std::string GetFileNamePart(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':') path.remove_prefix(2);
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsSeparator(path[i])) start = i + 1;
    }
    return std::string(path.substr(start));
}

bool IsFactoryImageName(std::string_view path) {
    return NameContainsAny(path, {"_f.", "_f_"});
}

bool HasIntelMarker(std::string_view path) {
    return NameContainsAny(path, {"_intel"});
}

bool IsZigBeeImageName(std::string_view path) {
    return NameContainsAny(path, {"_802", "+802"});
}

bool IsBluetoothImageName(std::string_view path) {
    return NameContainsAny(path, {"_bt", "+bt", "_bluetooth", "+bluetooth"});
}

bool ParseImageVersion(std::string_view path, int32_t& major, int32_t& minor) {
    const std::string name = GetFileNamePart(path);
    // The last character never starts a version: a minor number must follow.
    for (size_t i = 0; i + 1 < name.size(); ++i) {
        if (IsDecimalDigit(name[i])) {
            major = name[i] - '0';
            minor = DecimalPrefix(std::string_view(name).substr(i + 1));
            return true;
        }
    }
    return false;
}

ImageVersion ImageVersionOf(std::string_view path) {
    ImageVersion version;
    ParseImageVersion(path, version.major, version.minor);
    return version;
}

}  // namespace farsend::firmware

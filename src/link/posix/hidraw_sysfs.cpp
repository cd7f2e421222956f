#include "link/posix/hidraw_sysfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace farsend::link {
namespace {

// "hidraw" followed by decimal digits only; the number, or nothing.
std::optional<unsigned long> HidrawNumber(const std::string& name) {
    static const std::string kPrefix = "hidraw";
    if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) {
        return std::nullopt;
    }
    const std::string digits = name.substr(kPrefix.size());
    if (digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stoul(digits);
}

// One hexadecimal field of HID_ID, which must fit 16 bits (the kernel prints
// vendor and product with eight digits, the upper four zero).
std::optional<uint16_t> HexField(const std::string& text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    for (char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex) return std::nullopt;
    }
    const unsigned long value = std::strtoul(text.c_str(), nullptr, 16);
    if (value > 0xFFFF) return std::nullopt;
    return static_cast<uint16_t>(value);
}

}  // namespace

std::optional<std::string> ReadSmallFile(const std::string& path, size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        content.append(chunk, static_cast<size_t>(n));
        if (content.size() > limit) {
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return content;
}

std::string UeventField(const std::string& ueventText, const std::string& key) {
    std::istringstream lines(ueventText);
    std::string line;
    const std::string prefix = key + "=";
    while (std::getline(lines, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    }
    return {};
}

std::optional<HidId> ParseHidIdFromUevent(const std::string& ueventText) {
    std::istringstream lines(ueventText);
    std::string line;
    while (std::getline(lines, line)) {
        static const std::string kKey = "HID_ID=";
        if (line.compare(0, kKey.size(), kKey) != 0) continue;
        const std::string value = line.substr(kKey.size());
        const size_t first = value.find(':');
        const size_t second = first == std::string::npos ? first : value.find(':', first + 1);
        if (second == std::string::npos) return std::nullopt;
        const auto bus = HexField(value.substr(0, first));
        const auto vendor = HexField(value.substr(first + 1, second - first - 1));
        const auto product = HexField(value.substr(second + 1));
        if (!bus || !vendor || !product) return std::nullopt;
        return HidId{*bus, *vendor, *product};
    }
    return std::nullopt;
}

std::vector<HidrawNode> ScanHidrawNodes(const HidrawRoots& roots) {
    std::vector<std::pair<unsigned long, std::string>> found;
    if (DIR* dir = ::opendir(roots.sysClass.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (const auto number = HidrawNumber(name)) found.emplace_back(*number, name);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());

    std::vector<HidrawNode> nodes;
    nodes.reserve(found.size());
    for (const auto& [number, name] : found) {
        HidrawNode node;
        node.name = name;
        node.devicePath = roots.dev + "/" + name;
        node.sysfsPath = roots.sysClass + "/" + name;
        if (const auto uevent = ReadSmallFile(node.sysfsPath + "/device/uevent")) {
            node.id = ParseHidIdFromUevent(*uevent);
        }
        nodes.push_back(std::move(node));
    }
    return nodes;
}

}  // namespace farsend::link

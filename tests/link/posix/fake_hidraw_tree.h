// A fake /sys/class/hidraw and /dev in a temporary directory. Device nodes
// are FIFOs: they open read-write like a hidraw node, poll() tells when bytes
// are waiting, and what a test writes in comes out as one "report".
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/posix/hidraw_sysfs.h"

namespace farsend::link::testing {

class FakeHidrawTree {
public:
    FakeHidrawTree() {
        std::random_device entropy;
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
            auto candidate = base / ("farsend-hidraw-" + std::to_string(entropy()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) root_ = candidate;
        }
        if (root_.empty()) throw std::runtime_error("cannot create a temporary directory");
        std::filesystem::create_directories(root_ / "sys");
        std::filesystem::create_directories(root_ / "dev");
    }
    ~FakeHidrawTree() {
        std::error_code error;
        std::filesystem::remove_all(root_, error);
    }
    FakeHidrawTree(const FakeHidrawTree&) = delete;
    FakeHidrawTree& operator=(const FakeHidrawTree&) = delete;

    HidrawRoots Roots() const { return HidrawRoots{(root_ / "sys").string(), (root_ / "dev").string()}; }

    // A sysfs entry; an empty uevent text leaves the uevent file out.
    void AddSysfsEntry(const std::string& name, const std::string& uevent,
                       const std::vector<uint8_t>& descriptor = {}) const {
        const auto device = root_ / "sys" / name / "device";
        std::filesystem::create_directories(device);
        if (!uevent.empty()) std::ofstream(device / "uevent") << uevent;
        if (!descriptor.empty()) {
            std::ofstream(device / "report_descriptor", std::ios::binary)
                .write(reinterpret_cast<const char*>(descriptor.data()),
                       static_cast<std::streamsize>(descriptor.size()));
        }
    }

    // The device node: a FIFO, so that reads wait like a real node's.
    std::string AddDeviceNode(const std::string& name) const {
        const auto node = root_ / "dev" / name;
        if (::mkfifo(node.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
        return node.string();
    }

    // A sysfs entry and its node for a device with these identifiers.
    std::string AddDevice(const std::string& name, uint16_t vendor, uint16_t product,
                          const std::vector<uint8_t>& descriptor = {}) const {
        char uevent[128];
        std::snprintf(uevent, sizeof uevent,
                      "DRIVER=hid-generic\nHID_ID=0003:%08X:%08X\nHID_NAME=Test\n", vendor,
                      product);
        AddSysfsEntry(name, uevent, descriptor);
        return AddDeviceNode(name);
    }

    const std::filesystem::path& root() const { return root_; }

private:
    std::filesystem::path root_;
};

}  // namespace farsend::link::testing

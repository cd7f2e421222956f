// --device NAME: the platform as the link sees it, showing only the
// interfaces named, so that the link's own search (first interface with the
// bridge's identifiers) picks exactly that one or none. NAME is the device
// node, the location or the serial number that `farsend devices` lists.
#pragma once

#include <string>

#include "link/hid_platform.h"

namespace farsend::cli {

class SingleDevicePlatform final : public link::HidPlatform {
public:
    SingleDevicePlatform(link::HidPlatform& inner, std::string name)
        : inner_(inner), name_(std::move(name)) {}

    bool Bind() override { return inner_.Bind(); }
    std::vector<std::string> EnumerateInterfaces() override;
    link::HidIdentity Identify(const std::string& path) override { return inner_.Identify(path); }
    link::HidHandle Open(const std::string& path) override { return inner_.Open(path); }
    void Close(link::HidHandle handle) override { inner_.Close(handle); }
    bool GetAttributes(link::HidHandle handle, link::HidAttributes* attributes) override {
        return inner_.GetAttributes(handle, attributes);
    }
    bool GetCaps(link::HidHandle handle, link::HidCaps* caps) override {
        return inner_.GetCaps(handle, caps);
    }
    bool SetNumInputBuffers(link::HidHandle handle, uint32_t count) override {
        return inner_.SetNumInputBuffers(handle, count);
    }
    bool SetFeature(link::HidHandle handle, const uint8_t* report, size_t length) override {
        return inner_.SetFeature(handle, report, length);
    }
    long WriteReport(link::HidHandle handle, const uint8_t* report, size_t length) override {
        return inner_.WriteReport(handle, report, length);
    }
    link::ReadStatus ReadReport(link::HidHandle handle, uint8_t* buffer, size_t capacity,
                                size_t* length, uint32_t timeoutMs) override {
        return inner_.ReadReport(handle, buffer, capacity, length, timeoutMs);
    }
    int RestartBridge(uint16_t vendorId, uint16_t productId) override {
        return inner_.RestartBridge(vendorId, productId);
    }
    std::string HidLibraryFileVersion() override { return inner_.HidLibraryFileVersion(); }
    int OsClass() override { return inner_.OsClass(); }

    // Whether the inner platform lists an interface of that name at all.
    bool Present() { return !EnumerateInterfaces().empty(); }

private:
    link::HidPlatform& inner_;
    const std::string name_;
};

}  // namespace farsend::cli

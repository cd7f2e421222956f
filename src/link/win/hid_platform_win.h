// The Windows backend of the HID platform seam: hid.dll, setupapi.dll and
// cfgmgr32.dll bound at run time (link/win/system_libraries.h).
//
// Device handles are opened for overlapped I/O. A synchronous ReadFile on a
// HID handle waits until the device sends a report, possibly for ever, and
// nothing short of closing the handle under it (which is unsafe) ends it; the
// reader thread could then never be stopped and joined. With overlapped I/O a
// read waits on an event with a time-out and is cancelled when none comes, so
// the reader can look at its stop request between reads. Output reports are
// written the same way but waited for, so a write still returns only once the
// report went out. The HidD_ calls stay correct on such handles: their
// requests complete before they return.
#pragma once

#include "link/hid_platform.h"

namespace farsend::link {

class WinHidPlatform final : public HidPlatform {
public:
    bool Bind() override;
    std::vector<std::string> EnumerateInterfaces() override;
    // The location path of the interface's USB device (the location text
    // when it has none) and its HID serial number string.
    HidIdentity Identify(const std::string& path) override;
    HidHandle Open(const std::string& path) override;
    void Close(HidHandle handle) override;
    bool GetAttributes(HidHandle handle, HidAttributes* attributes) override;
    bool GetCaps(HidHandle handle, HidCaps* caps) override;
    bool SetNumInputBuffers(HidHandle handle, uint32_t count) override;
    bool SetFeature(HidHandle handle, const uint8_t* report, size_t length) override;
    long WriteReport(HidHandle handle, const uint8_t* report, size_t length) override;
    ReadStatus ReadReport(HidHandle handle, uint8_t* buffer, size_t capacity, size_t* length,
                          uint32_t timeoutMs) override;
    int RestartBridge(uint16_t vendorId, uint16_t productId, const std::string& path) override;
    std::string HidLibraryFileVersion() override;
    int OsClass() override;
};

// How long a write may take before it is cancelled and counted as failed: a
// bridge that stops taking reports must not hang the caller for ever.
constexpr uint32_t kWriteTimeoutMs = 2000;

}  // namespace farsend::link

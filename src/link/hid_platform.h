// The seam under the link: every operation the HID serial link needs from
// the system. Three backends implement it, one file each:
//
//   link/win/hid_platform_win.cpp   Windows: hid.dll, setupapi.dll and
//                                   cfgmgr32.dll bound at run time
//   link/posix/hid_platform_hidraw.cpp  Linux hidraw
//   sim/                             the simulated bridge (in-process)
//
// plus NullHidPlatform below, which finds nothing. The steps of discovery that
// do not depend on the platform (search order, first match wins, input-buffer
// fallbacks) run above this seam in link/, once for every backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace farsend::link {

// An open device. 0 is "no handle"; the backend chooses what the other values
// mean (a Windows HANDLE, a file descriptor plus one, a simulator slot).
using HidHandle = std::uintptr_t;
constexpr HidHandle kNoHandle = 0;

struct HidAttributes {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t versionNumber = 0;
};

// Report lengths as Windows counts them: the report-ID byte included, whether
// or not the device numbers its reports.
struct HidCaps {
    uint16_t inputReportByteLength = 0;
    uint16_t outputReportByteLength = 0;
    uint16_t featureReportByteLength = 0;
};

// Which device an interface belongs to, beyond its identifiers: where it is
// plugged in and, when the device has one, its USB serial number string. The
// location stays the same when a device is plugged into the same socket
// again, so a station on a production line can be named by it.
struct HidIdentity {
    std::string location;  // empty when the system does not say
    std::string serial;    // empty when the device has none
};

enum class ReadStatus {
    kReport,    // one whole input report was stored
    kTimedOut,  // nothing arrived within the time-out; try again
    kFailed,    // the read failed (the reader drops the pass, pauses and
                // tries again until it is stopped)
    kGone,      // the device has been unplugged: no read on this handle will
                // ever succeed again, and no answer can come
};

class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // Loads whatever the backend needs (the system libraries on Windows).
    // False: the HID system cannot be used; opening fails with -4.
    virtual bool Bind() = 0;

    // The device path of every present HID interface, in a stable order.
    virtual std::vector<std::string> EnumerateInterfaces() = 0;

    // The location and serial of a listed interface; empty strings for what
    // the system does not tell. Needs no open handle, so it also answers for
    // an interface this process may not open.
    virtual HidIdentity Identify(const std::string& path) = 0;

    // Opens a path for reading and writing, shared with other openers, so that
    // the same interface can be opened twice. kNoHandle on failure.
    virtual HidHandle Open(const std::string& path) = 0;
    virtual void Close(HidHandle handle) = 0;

    virtual bool GetAttributes(HidHandle handle, HidAttributes* attributes) = 0;
    virtual bool GetCaps(HidHandle handle, HidCaps* caps) = 0;

    // How many input reports the system queues for the handle; may refuse.
    virtual bool SetNumInputBuffers(HidHandle handle, uint32_t count) = 0;

    // One feature report, report ID first. True when the device accepted it.
    virtual bool SetFeature(HidHandle handle, const uint8_t* report, size_t length) = 0;

    // One whole output report, report ID first, written synchronously.
    // Returns how many bytes went out, or -1 on failure.
    virtual long WriteReport(HidHandle handle, const uint8_t* report, size_t length) = 0;

    // Waits up to `timeoutMs` for one input report and stores it, report ID
    // first, in `buffer` (at most `capacity` bytes; *length gets its size).
    // A backend may store several whole reports back to back when they are
    // already queued and fit; *length is then their total.
    // The reader thread calls this in a loop and checks its stop request
    // between calls, so a short time-out bounds how long a stop takes.
    virtual ReadStatus ReadReport(HidHandle handle, uint8_t* buffer, size_t capacity,
                                  size_t* length, uint32_t timeoutMs) = 0;

    // Makes the system stop and restart the bridge's device: the device of
    // the interface at `path`, the one about to be opened, so that a bridge
    // another link is using is left alone; with an empty path, the first
    // device with the identifiers. -4: the device-setup system is missing;
    // 0: the configuration manager is missing; 1: otherwise, whether or not
    // a device was restarted.
    virtual int RestartBridge(uint16_t vendorId, uint16_t productId, const std::string& path) = 0;

    // The "FileVersion" text of the HID library ("" when unknown). The text
    // "4.10.1998" selects the legacy framing.
    virtual std::string HidLibraryFileVersion() = 0;

    // 0..6 as in the system's classification; 5 or more makes every open
    // restart the bridge first. Backends that cannot restart report less.
    virtual int OsClass() = 0;
};

// Finds nothing and opens nothing: the backend of a build or a machine
// without HID support.
class NullHidPlatform final : public HidPlatform {
public:
    bool Bind() override { return true; }
    std::vector<std::string> EnumerateInterfaces() override { return {}; }
    HidIdentity Identify(const std::string&) override { return {}; }
    HidHandle Open(const std::string&) override { return kNoHandle; }
    void Close(HidHandle) override {}
    bool GetAttributes(HidHandle, HidAttributes*) override { return false; }
    bool GetCaps(HidHandle, HidCaps*) override { return false; }
    bool SetNumInputBuffers(HidHandle, uint32_t) override { return false; }
    bool SetFeature(HidHandle, const uint8_t*, size_t) override { return false; }
    long WriteReport(HidHandle, const uint8_t*, size_t) override { return -1; }
    ReadStatus ReadReport(HidHandle, uint8_t*, size_t, size_t*, uint32_t) override {
        return ReadStatus::kFailed;
    }
    int RestartBridge(uint16_t, uint16_t, const std::string&) override { return 1; }
    std::string HidLibraryFileVersion() override { return {}; }
    int OsClass() override { return 0; }
};

// The backend for real bridges on this system (Windows or hidraw).
// Defined by the platform backend; returns a process-wide instance.
HidPlatform& SystemHidPlatform();

}  // namespace farsend::link

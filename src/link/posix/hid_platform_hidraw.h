// The Linux backend of the HID platform seam, over /dev/hidrawN.
//
// It serves the link exactly as the Windows backend does: report lengths and
// input reports carry the report-ID byte first even when the device numbers
// none of its reports (hidraw leaves it out on read; this backend adds the 0).
// There is no HID library with a version (so never the legacy framing), no
// input queue to size (the kernel keeps its own; any count is accepted) and
// no bridge restart (a restart succeeds without doing anything).
#pragma once

#include <mutex>
#include <string>

#include "link/hid_platform.h"
#include "link/posix/hidraw_sysfs.h"

namespace farsend::link {

// The OS class this backend reports: none of the Windows classes applies.
// It stays below 5, so the link never restarts the bridge before a search.
constexpr int kHidrawOsClass = 0;

struct OpenError {
    std::string path;  // empty: no open has failed
    int error = 0;     // errno of the failure
};

class HidrawPlatform final : public HidPlatform {
public:
    explicit HidrawPlatform(HidrawRoots roots = HidrawRoots{});

    bool Bind() override { return true; }
    std::vector<std::string> EnumerateInterfaces() override;
    // HID_PHYS and HID_UNIQ from the node's uevent, which the kernel fills
    // for USB devices and uhid alike (a walk up sysfs to the USB device would
    // find nothing under uhid); the HIDIOCGRAWPHYS and HIDIOCGRAWUNIQ ioctls
    // when the uevent cannot be read and the node can be opened.
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
    std::string HidLibraryFileVersion() override { return {}; }
    int OsClass() override { return kHidrawOsClass; }

    // The most recent Open that failed, with its errno, so that a front end
    // can say why a bridge that is plugged in could not be opened.
    OpenError LastOpenError() const;

private:
    HidrawRoots roots_;
    mutable std::mutex errorMutex_;
    OpenError lastOpenError_;
};

// The process-wide hidraw backend (the object behind SystemHidPlatform()).
HidrawPlatform& SystemHidrawPlatform();

// Whether a device with the bridge's identifiers is present, and whether this
// process may open it. Front ends use it after a failed open to tell "no
// bridge" from "bridge present but access denied" (then the udev rule in
// packaging/udev is missing or not yet applied).
enum class BridgeAccess {
    kAbsent,      // no hidraw node carries these identifiers
    kAccessible,  // found and opened for reading and writing
    kDenied,      // found, but open failed with EACCES or EPERM
    kFailed,      // found, but open failed for another reason
};

struct BridgeAccessReport {
    BridgeAccess access = BridgeAccess::kAbsent;
    std::string path;  // the device node that was tried
    int error = 0;     // errno when the open failed
};

BridgeAccessReport ProbeBridgeAccess(uint16_t vendorId, uint16_t productId,
                                     const HidrawRoots& roots = HidrawRoots{});

// One line for the user, e.g. "/dev/hidraw3: Permission denied".
std::string DescribeBridgeAccess(const BridgeAccessReport& report);

}  // namespace farsend::link

#include "link/posix/hid_platform_hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "link/posix/report_descriptor.h"

namespace farsend::link {
namespace {

// What a HidHandle points to: the descriptor and what we learnt about the
// device behind it. Each handle is used by one thread at a time (the link's
// thread for the write handle, the reader for the read handle).
struct HidrawDevice {
    int fd = -1;
    std::string sysfsPath;  // for the report descriptor and uevent fallbacks
    std::optional<ReportLengths> lengths;
};

HidrawDevice* DeviceOf(HidHandle handle) {
    return reinterpret_cast<HidrawDevice*>(handle);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::vector<uint8_t>> ReadDescriptorBytes(const HidrawDevice& device) {
    int size = 0;
    if (::ioctl(device.fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 &&
        size <= HID_MAX_DESCRIPTOR_SIZE) {
        auto descriptor = std::make_unique<hidraw_report_descriptor>();
        descriptor->size = static_cast<uint32_t>(size);
        if (::ioctl(device.fd, HIDIOCGRDESC, descriptor.get()) == 0) {
            return std::vector<uint8_t>(descriptor->value, descriptor->value + descriptor->size);
        }
    }
    // sysfs has the same bytes; used when the ioctl is unavailable.
    const auto text =
        ReadSmallFile(device.sysfsPath + "/device/report_descriptor", HID_MAX_DESCRIPTOR_SIZE);
    if (!text) return std::nullopt;
    return std::vector<uint8_t>(text->begin(), text->end());
}

// The report lengths of the device, read once per handle.
const std::optional<ReportLengths>& LengthsOf(HidrawDevice& device) {
    if (!device.lengths) {
        if (const auto bytes = ReadDescriptorBytes(device)) {
            device.lengths = ParseReportDescriptor(bytes->data(), bytes->size());
        }
    }
    return device.lengths;
}

}  // namespace

HidrawPlatform::HidrawPlatform(HidrawRoots roots) : roots_(std::move(roots)) {}

std::vector<std::string> HidrawPlatform::EnumerateInterfaces() {
    std::vector<std::string> paths;
    for (const HidrawNode& node : ScanHidrawNodes(roots_)) paths.push_back(node.devicePath);
    return paths;
}

namespace {

// One of the string ioctls (HIDIOCGRAWPHYS, HIDIOCGRAWUNIQ); empty on failure.
std::string IoctlString(int fd, unsigned long request) {
    char text[256] = {};
    const int got = ::ioctl(fd, request, text);
    if (got < 0) return {};
    return std::string(text, strnlen(text, sizeof text));
}

}  // namespace

HidIdentity HidrawPlatform::Identify(const std::string& path) {
    const std::string sysfsPath = roots_.sysClass + "/" + BaseName(path);
    if (const auto uevent = ReadSmallFile(sysfsPath + "/device/uevent")) {
        return HidIdentity{UeventField(*uevent, "HID_PHYS"), UeventField(*uevent, "HID_UNIQ")};
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return {};
    HidIdentity identity{IoctlString(fd, HIDIOCGRAWPHYS(256)),
                         IoctlString(fd, HIDIOCGRAWUNIQ(256))};
    ::close(fd);
    return identity;
}

HidHandle HidrawPlatform::Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        std::lock_guard<std::mutex> lock(errorMutex_);
        lastOpenError_ = OpenError{path, error};
        return kNoHandle;
    }
    auto* device = new HidrawDevice;
    device->fd = fd;
    device->sysfsPath = roots_.sysClass + "/" + BaseName(path);
    return reinterpret_cast<HidHandle>(device);
}

void HidrawPlatform::Close(HidHandle handle) {
    HidrawDevice* device = DeviceOf(handle);
    if (device == nullptr) return;
    ::close(device->fd);
    delete device;
}

bool HidrawPlatform::GetAttributes(HidHandle handle, HidAttributes* attributes) {
    HidrawDevice* device = DeviceOf(handle);
    if (device == nullptr || attributes == nullptr) return false;
    hidraw_devinfo info{};
    if (::ioctl(device->fd, HIDIOCGRAWINFO, &info) == 0) {
        // The kernel hands the identifiers over as signed 16-bit values.
        attributes->vendorId = static_cast<uint16_t>(info.vendor);
        attributes->productId = static_cast<uint16_t>(info.product);
        attributes->versionNumber = 0;  // hidraw does not pass the release number on
        return true;
    }
    // Without the ioctl, the node's uevent names the same identifiers.
    const auto uevent = ReadSmallFile(device->sysfsPath + "/device/uevent");
    const auto id = uevent ? ParseHidIdFromUevent(*uevent) : std::nullopt;
    if (!id) return false;
    attributes->vendorId = id->vendor;
    attributes->productId = id->product;
    attributes->versionNumber = 0;
    return true;
}

bool HidrawPlatform::GetCaps(HidHandle handle, HidCaps* caps) {
    HidrawDevice* device = DeviceOf(handle);
    if (device == nullptr || caps == nullptr) return false;
    const auto& lengths = LengthsOf(*device);
    if (!lengths) return false;
    caps->inputReportByteLength = lengths->input;
    caps->outputReportByteLength = lengths->output;
    caps->featureReportByteLength = lengths->feature;
    return true;
}

bool HidrawPlatform::SetNumInputBuffers(HidHandle handle, uint32_t) {
    // The kernel queues input reports per open file on its own; there is
    // nothing to size, so every count is taken.
    return DeviceOf(handle) != nullptr;
}

bool HidrawPlatform::SetFeature(HidHandle handle, const uint8_t* report, size_t length) {
    HidrawDevice* device = DeviceOf(handle);
    // The ioctl number carries the length in 14 bits.
    if (device == nullptr || report == nullptr || length == 0 || length > 0x3FFF) return false;
    std::vector<uint8_t> copy(report, report + length);  // the ioctl takes a writable buffer
    return ::ioctl(device->fd, HIDIOCSFEATURE(length), copy.data()) >= 0;
}

long HidrawPlatform::WriteReport(HidHandle handle, const uint8_t* report, size_t length) {
    HidrawDevice* device = DeviceOf(handle);
    if (device == nullptr || report == nullptr) return -1;
    // Byte 0 is the report number, 0 for an unnumbered device; the kernel
    // strips it before the report goes out.
    for (;;) {
        const ssize_t written = ::write(device->fd, report, length);
        if (written < 0 && errno == EINTR) continue;
        return written < 0 ? -1 : static_cast<long>(written);
    }
}

ReadStatus HidrawPlatform::ReadReport(HidHandle handle, uint8_t* buffer, size_t capacity,
                                      size_t* length, uint32_t timeoutMs) {
    HidrawDevice* device = DeviceOf(handle);
    if (device == nullptr || buffer == nullptr || length == nullptr) return ReadStatus::kFailed;
    const auto& lengths = LengthsOf(*device);
    if (!lengths) return ReadStatus::kFailed;
    const size_t offset = lengths->usesReportIds ? 0 : 1;
    if (capacity <= offset) return ReadStatus::kFailed;

    pollfd waiting{device->fd, POLLIN, 0};
    const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
    const int ready = ::poll(&waiting, 1, timeout);
    if (ready < 0) return errno == EINTR ? ReadStatus::kTimedOut : ReadStatus::kFailed;
    if (ready == 0) return ReadStatus::kTimedOut;
    // An unplugged device wakes poll at once with POLLHUP and POLLERR, and
    // does so on every later call: the reader must hear that it is gone, not
    // see a failed pass to try again. Reports queued before the unplug still
    // read (POLLIN comes with the hang-up), and the read after the last one
    // fails with EIO.
    if ((waiting.revents & POLLIN) == 0) {
        return (waiting.revents & (POLLHUP | POLLERR)) != 0 ? ReadStatus::kGone
                                                            : ReadStatus::kFailed;
    }

    const ssize_t received = ::read(device->fd, buffer + offset, capacity - offset);
    if (received < 0) {
        if (errno == EINTR || errno == EAGAIN) return ReadStatus::kTimedOut;
        // hidraw answers EIO once the device has been removed.
        return (errno == EIO || errno == ENODEV) ? ReadStatus::kGone : ReadStatus::kFailed;
    }
    if (received == 0) return ReadStatus::kGone;  // end of file: the device is gone
    // An unnumbered device sends its data from byte 0; the link expects the
    // report ID there, as Windows presents it.
    if (offset == 1) buffer[0] = 0;
    *length = static_cast<size_t>(received) + offset;
    return ReadStatus::kReport;
}

int HidrawPlatform::RestartBridge(uint16_t, uint16_t, const std::string&) {
    // Linux re-enumerates the bridge on its own when it is plugged in again;
    // there is no device-setup class installer to poke.
    return 1;
}

OpenError HidrawPlatform::LastOpenError() const {
    std::lock_guard<std::mutex> lock(errorMutex_);
    return lastOpenError_;
}

HidrawPlatform& SystemHidrawPlatform() {
    static HidrawPlatform platform;
    return platform;
}

HidPlatform& SystemHidPlatform() {
    return SystemHidrawPlatform();
}

BridgeAccessReport ProbeBridgeAccess(uint16_t vendorId, uint16_t productId,
                                     const HidrawRoots& roots) {
    BridgeAccessReport report;
    for (const HidrawNode& node : ScanHidrawNodes(roots)) {
        if (!node.id || node.id->vendor != vendorId || node.id->product != productId) continue;
        const int fd = ::open(node.devicePath.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return BridgeAccessReport{BridgeAccess::kAccessible, node.devicePath, 0};
        }
        const int error = errno;
        // Keep looking: a second bridge may be usable. Remember the first
        // failure, preferring a denial, which has a known remedy.
        const BridgeAccess access =
            (error == EACCES || error == EPERM) ? BridgeAccess::kDenied : BridgeAccess::kFailed;
        if (report.access == BridgeAccess::kAbsent ||
            (report.access == BridgeAccess::kFailed && access == BridgeAccess::kDenied)) {
            report = BridgeAccessReport{access, node.devicePath, error};
        }
    }
    return report;
}

std::string DescribeBridgeAccess(const BridgeAccessReport& report) {
    switch (report.access) {
        case BridgeAccess::kAbsent:
            return "no bridge found";
        case BridgeAccess::kAccessible:
            return report.path + ": accessible";
        case BridgeAccess::kDenied:
        case BridgeAccess::kFailed:
            break;
    }
    return report.path + ": " + std::error_code(report.error, std::generic_category()).message();
}

}  // namespace farsend::link

#include "link/win/hid_platform_win.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "link/win/bridge_restart.h"
#include "link/win/file_version.h"
#include "link/win/os_class.h"
#include "link/win/read_failure.h"
#include "link/win/system_libraries.h"

namespace farsend::link {
namespace {

// What a HidHandle points to: the device handle and one event per direction,
// so that the link's thread (writes) and the reader (reads) never share one.
struct WinDevice {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE readDone = nullptr;
    HANDLE writeDone = nullptr;
};

WinDevice* DeviceOf(HidHandle handle) {
    return reinterpret_cast<WinDevice*>(handle);
}

void CloseDevice(WinDevice* device) {
    if (device->file != INVALID_HANDLE_VALUE) ::CloseHandle(device->file);
    if (device->readDone != nullptr) ::CloseHandle(device->readDone);
    if (device->writeDone != nullptr) ::CloseHandle(device->writeDone);
    delete device;
}

enum class IoResult { kDone, kTimedOut, kFailed };

// Starts an overlapped read or write, waits up to `timeoutMs` for it, and
// cancels it when it is late. The operation is always finished (completed or
// cancelled) on return, so the buffer and the OVERLAPPED record can go.
template <typename Start>
IoResult RunOverlapped(HANDLE file, HANDLE event, uint32_t timeoutMs, DWORD* transferred,
                       Start start) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ::ResetEvent(event);
    if (!start(&overlapped) && ::GetLastError() != ERROR_IO_PENDING) return IoResult::kFailed;

    if (::WaitForSingleObject(event, timeoutMs) != WAIT_OBJECT_0) {
        // CancelIo ends the requests this thread started on the handle; the
        // wait below collects the outcome, which may still be a completion
        // that won the race (then the data is good and is kept).
        ::CancelIo(file);
        if (::GetOverlappedResult(file, &overlapped, transferred, TRUE)) return IoResult::kDone;
        return ::GetLastError() == ERROR_OPERATION_ABORTED ? IoResult::kTimedOut
                                                           : IoResult::kFailed;
    }
    return ::GetOverlappedResult(file, &overlapped, transferred, FALSE) ? IoResult::kDone
                                                                        : IoResult::kFailed;
}

}  // namespace

bool WinHidPlatform::Bind() {
    return hidApi.Bind("hid.dll") && setupApi.Bind("setupapi.dll");
}

namespace {

// Calls `visit(path, devinst)` for every present HID interface, in the
// system's order, until it returns false.
template <typename Visit>
void ForEachHidInterface(Visit visit) {
    GUID hidInterface{};
    hidApi.GetHidGuid(&hidInterface);
    HDEVINFO set = setupApi.GetClassDevs(&hidInterface, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == nullptr || set == INVALID_HANDLE_VALUE) return;

    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (!setupApi.EnumDeviceInterfaces(set, nullptr, &hidInterface, index, &interfaceData)) {
            break;
        }
        DWORD required = 0;
        setupApi.GetDeviceInterfaceDetail(set, &interfaceData, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        // An interface whose path cannot be had is skipped; the search goes on
        // with the next one.
        std::unique_ptr<DWORD[]> storage(new (std::nothrow)
                                             DWORD[(required + sizeof(DWORD) - 1) / sizeof(DWORD)]);
        if (!storage) continue;
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!setupApi.GetDeviceInterfaceDetail(set, &interfaceData, detail, required, nullptr,
                                               &device)) {
            continue;
        }
        const size_t pathRoom = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        if (!visit(std::string(detail->DevicePath, strnlen(detail->DevicePath, pathRoom)),
                   device.DevInst)) {
            break;
        }
    }
    setupApi.DestroyDeviceInfoList(set);
}

// The first string of a device property (a multi-string for the location
// paths); empty when the device has none.
std::string DevNodeText(DEVINST device, ULONG property) {
    char text[1024] = {};
    ULONG length = sizeof text - 2;
    if (cfgMgrApi.GetDevNodeRegistryProperty(device, property, text, &length) != CR_SUCCESS) {
        return {};
    }
    return std::string(text, strnlen(text, sizeof text));
}

// The HID interface's own device node has no place on a bus; its USB parent
// (one or two levels up, through the composite device) has. The location
// path is preferred: it names the socket and survives a replug there.
std::string LocationOf(DEVINST device) {
    if (!cfgMgrApi.Bind("cfgmgr32.dll")) return {};
    for (ULONG property : {CM_DRP_LOCATION_PATHS, CM_DRP_LOCATION_INFORMATION}) {
        DEVINST node = device;
        for (int level = 0; level < 4; ++level) {
            const std::string text = DevNodeText(node, property);
            if (!text.empty()) return text;
            DEVINST parent = 0;
            if (cfgMgrApi.GetParent(&parent, node) != CR_SUCCESS) break;
            node = parent;
        }
    }
    return {};
}

std::string SerialOf(const std::string& path) {
    // No access rights are needed to ask for the strings, so this works
    // while another program holds the bridge.
    HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    // USB string descriptors hold at most 126 UTF-16 units.
    wchar_t serial[128] = {};
    const bool got = hidApi.GetSerialNumberString(file, serial, sizeof serial - sizeof(wchar_t));
    ::CloseHandle(file);
    if (!got || serial[0] == L'\0') return {};
    char text[512] = {};
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, serial, -1, text, sizeof text, nullptr, nullptr);
    return length > 0 ? std::string(text) : std::string();
}

// The instance identifiers of the interface's device node and its
// ancestors, nearest first; empty when the interface is not present.
// As the configuration manager counts it, without the terminating zero.
constexpr ULONG kDeviceIdLength = 200;

std::vector<std::string> LineageOf(const std::string& path) {
    std::vector<std::string> lineage;
    ForEachHidInterface([&](const std::string& listed, DEVINST device) {
        if (_stricmp(listed.c_str(), path.c_str()) != 0) return true;
        DEVINST node = device;
        // The interface, its HID device, the composite device, the USB device.
        for (int level = 0; level < 4; ++level) {
            char id[kDeviceIdLength + 1] = {};
            if (cfgMgrApi.GetDeviceIdEx(node, id, kDeviceIdLength, 0, nullptr) == CR_SUCCESS) {
                lineage.emplace_back(id, strnlen(id, kDeviceIdLength));
            }
            DEVINST parent = 0;
            if (cfgMgrApi.GetParent(&parent, node) != CR_SUCCESS) break;
            node = parent;
        }
        return false;
    });
    return lineage;
}

}  // namespace

std::vector<std::string> WinHidPlatform::EnumerateInterfaces() {
    std::vector<std::string> paths;
    ForEachHidInterface([&](std::string path, DEVINST) {
        paths.push_back(std::move(path));
        return true;
    });
    return paths;
}

HidIdentity WinHidPlatform::Identify(const std::string& path) {
    HidIdentity identity;
    bool found = false;
    ForEachHidInterface([&](const std::string& listed, DEVINST device) {
        // Interface paths compare without regard to case.
        if (_stricmp(listed.c_str(), path.c_str()) != 0) return true;
        identity.location = LocationOf(device);
        found = true;
        return false;
    });
    if (found) identity.serial = SerialOf(path);
    return identity;
}

HidHandle WinHidPlatform::Open(const std::string& path) {
    auto* device = new (std::nothrow) WinDevice;
    if (device == nullptr) return kNoHandle;
    device->file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    device->readDone = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    device->writeDone = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (device->file == INVALID_HANDLE_VALUE || device->readDone == nullptr ||
        device->writeDone == nullptr) {
        CloseDevice(device);
        return kNoHandle;
    }
    return reinterpret_cast<HidHandle>(device);
}

void WinHidPlatform::Close(HidHandle handle) {
    if (WinDevice* device = DeviceOf(handle)) CloseDevice(device);
}

bool WinHidPlatform::GetAttributes(HidHandle handle, HidAttributes* attributes) {
    WinDevice* device = DeviceOf(handle);
    if (device == nullptr || attributes == nullptr) return false;
    HIDD_ATTRIBUTES raw{};
    raw.Size = sizeof raw;
    if (!hidApi.GetAttributes(device->file, &raw)) return false;
    attributes->vendorId = raw.VendorID;
    attributes->productId = raw.ProductID;
    attributes->versionNumber = raw.VersionNumber;
    return true;
}

bool WinHidPlatform::GetCaps(HidHandle handle, HidCaps* caps) {
    WinDevice* device = DeviceOf(handle);
    if (device == nullptr || caps == nullptr) return false;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!hidApi.GetPreparsedData(device->file, &preparsed)) return false;
    HIDP_CAPS raw{};
    const NTSTATUS status = hidApi.GetCaps(preparsed, &raw);
    hidApi.FreePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS) return false;
    caps->inputReportByteLength = raw.InputReportByteLength;
    caps->outputReportByteLength = raw.OutputReportByteLength;
    caps->featureReportByteLength = raw.FeatureReportByteLength;
    return true;
}

bool WinHidPlatform::SetNumInputBuffers(HidHandle handle, uint32_t count) {
    WinDevice* device = DeviceOf(handle);
    return device != nullptr && hidApi.SetNumInputBuffers(device->file, count);
}

bool WinHidPlatform::SetFeature(HidHandle handle, const uint8_t* report, size_t length) {
    WinDevice* device = DeviceOf(handle);
    if (device == nullptr || report == nullptr || length == 0 || length > MAXDWORD) return false;
    // HidD_SetFeature takes a writable buffer.
    std::vector<uint8_t> copy(report, report + length);
    return hidApi.SetFeature(device->file, copy.data(), static_cast<ULONG>(length));
}

long WinHidPlatform::WriteReport(HidHandle handle, const uint8_t* report, size_t length) {
    WinDevice* device = DeviceOf(handle);
    if (device == nullptr || report == nullptr || length > MAXDWORD) return -1;
    DWORD written = 0;
    const IoResult result = RunOverlapped(
        device->file, device->writeDone, kWriteTimeoutMs, &written, [&](OVERLAPPED* overlapped) {
            return ::WriteFile(device->file, report, static_cast<DWORD>(length), nullptr,
                               overlapped);
        });
    return result == IoResult::kDone ? static_cast<long>(written) : -1;
}

ReadStatus WinHidPlatform::ReadReport(HidHandle handle, uint8_t* buffer, size_t capacity,
                                      size_t* length, uint32_t timeoutMs) {
    WinDevice* device = DeviceOf(handle);
    if (device == nullptr || buffer == nullptr || length == nullptr || capacity == 0) {
        return ReadStatus::kFailed;
    }
    // The HID driver returns whole reports only, one or more as fit; the
    // buffer must hold at least one.
    const DWORD room = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    DWORD received = 0;
    const IoResult result = RunOverlapped(
        device->file, device->readDone, timeoutMs, &received, [&](OVERLAPPED* overlapped) {
            return ::ReadFile(device->file, buffer, room, nullptr, overlapped);
        });
    switch (result) {
        case IoResult::kDone:
            if (received == 0) return ReadStatus::kTimedOut;
            *length = received;
            return ReadStatus::kReport;
        case IoResult::kTimedOut:
            return ReadStatus::kTimedOut;
        case IoResult::kFailed:
            break;
    }
    return ReadFailureStatus(::GetLastError());
}

int WinHidPlatform::RestartBridge(uint16_t vendorId, uint16_t productId, const std::string& path) {
    RestartChoice choice;
    if (!path.empty()) {
        // Finding the interface needs every library the restart needs, and
        // the HID library for the interface class; without one, the restart
        // reports what is missing as it always has.
        if (!setupApi.Bind("setupapi.dll")) return -4;
        if (!cfgMgrApi.Bind("cfgmgr32.dll")) return 0;
        choice.firstMatch = false;
        if (hidApi.Bind("hid.dll")) choice.lineage = LineageOf(path);
    }
    return RestartBridgeDevice(vendorId, productId, choice);
}

std::string WinHidPlatform::HidLibraryFileVersion() {
    // The HID library that is bound: the system directory's, by full path.
    const std::string path = SystemLibraryPath("hid.dll");
    if (path.empty()) return {};
    char version[99 + 1];
    return GetFileVersionString(path.c_str(), "FileVersion", version, 99);
}

int WinHidPlatform::OsClass() {
    return GetOsClass();
}

HidPlatform& SystemHidPlatform() {
    static WinHidPlatform platform;
    return platform;
}

}  // namespace farsend::link

#include "link/win/hid_platform_win.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "link/win/bridge_restart.h"
#include "link/win/file_version.h"
#include "link/win/os_class.h"
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

WinDevice* DeviceOf(HidHandle handle) { return reinterpret_cast<WinDevice*>(handle); }

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

std::vector<std::string> WinHidPlatform::EnumerateInterfaces() {
    std::vector<std::string> paths;
    GUID hidInterface{};
    hidApi.GetHidGuid(&hidInterface);
    HDEVINFO set = setupApi.GetClassDevs(&hidInterface, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == nullptr || set == INVALID_HANDLE_VALUE) return paths;

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
        if (!setupApi.GetDeviceInterfaceDetail(set, &interfaceData, detail, required, nullptr,
                                               nullptr)) {
            continue;
        }
        const size_t pathRoom = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        paths.emplace_back(detail->DevicePath, strnlen(detail->DevicePath, pathRoom));
    }
    setupApi.DestroyDeviceInfoList(set);
    return paths;
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
    const IoResult result =
        RunOverlapped(device->file, device->writeDone, kWriteTimeoutMs, &written,
                      [&](OVERLAPPED* overlapped) {
                          return ::WriteFile(device->file, report, static_cast<DWORD>(length),
                                             nullptr, overlapped);
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
    return ReadStatus::kFailed;
}

int WinHidPlatform::RestartBridge(uint16_t vendorId, uint16_t productId) {
    return RestartBridgeDevice(vendorId, productId);
}

std::string WinHidPlatform::HidLibraryFileVersion() {
    // The HID library that is bound: the system directory's, by full path.
    const std::string path = SystemLibraryPath("hid.dll");
    if (path.empty()) return {};
    char version[99 + 1];
    return GetFileVersionString(path.c_str(), "FileVersion", version, 99);
}

int WinHidPlatform::OsClass() { return GetOsClass(); }

HidPlatform& SystemHidPlatform() {
    static WinHidPlatform platform;
    return platform;
}

}  // namespace farsend::link

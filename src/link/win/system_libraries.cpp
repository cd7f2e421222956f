#include "link/win/system_libraries.h"

#include <winver.h>

namespace farsend::link {

HidApi hidApi;
SetupApi setupApi;
CfgMgrApi cfgMgrApi;
VersionApi versionApi;

namespace {

// A status HidP_GetCaps itself never returns, for a missing entry point.
constexpr NTSTATUS kCapsUnavailable = static_cast<NTSTATUS>(0xC0110020);  // not implemented

}  // namespace

// hid.dll ---------------------------------------------------------------

bool HidApi::GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) const {
    auto call = Entry<decltype(&::HidD_GetAttributes)>(kGetAttributes);
    return call != nullptr && call(device, attributes);
}

void HidApi::GetHidGuid(GUID* guid) const {
    if (auto call = Entry<decltype(&::HidD_GetHidGuid)>(kGetHidGuid)) call(guid);
}

bool HidApi::GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* data) const {
    auto call = Entry<decltype(&::HidD_GetPreparsedData)>(kGetPreparsedData);
    return call != nullptr && call(device, data);
}

bool HidApi::SetFeature(HANDLE device, void* report, ULONG length) const {
    auto call = Entry<decltype(&::HidD_SetFeature)>(kSetFeature);
    return call != nullptr && call(device, report, length);
}

bool HidApi::SetNumInputBuffers(HANDLE device, ULONG count) const {
    auto call = Entry<decltype(&::HidD_SetNumInputBuffers)>(kSetNumInputBuffers);
    return call != nullptr && call(device, count);
}

bool HidApi::GetNumInputBuffers(HANDLE device, ULONG* count) const {
    auto call = Entry<decltype(&::HidD_GetNumInputBuffers)>(kGetNumInputBuffers);
    return call != nullptr && call(device, count);
}

NTSTATUS HidApi::GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS* caps) const {
    auto call = Entry<decltype(&::HidP_GetCaps)>(kGetCaps);
    return call != nullptr ? call(data, caps) : kCapsUnavailable;
}

bool HidApi::FreePreparsedData(PHIDP_PREPARSED_DATA data) const {
    auto call = Entry<decltype(&::HidD_FreePreparsedData)>(kFreePreparsedData);
    return call != nullptr && call(data);
}

bool HidApi::GetSerialNumberString(HANDLE device, wchar_t* buffer, ULONG bytes) const {
    auto call = Entry<decltype(&::HidD_GetSerialNumberString)>(kGetSerialNumberString);
    return call != nullptr && call(device, buffer, bytes);
}

// setupapi.dll ----------------------------------------------------------

HDEVINFO SetupApi::GetClassDevs(const GUID* classGuid, const char* enumerator, HWND parent,
                                DWORD flags) const {
    auto call = Entry<decltype(&::SetupDiGetClassDevsA)>(kGetClassDevs);
    return call != nullptr ? call(classGuid, enumerator, parent, flags) : nullptr;
}

bool SetupApi::DestroyDeviceInfoList(HDEVINFO set) const {
    auto call = Entry<decltype(&::SetupDiDestroyDeviceInfoList)>(kDestroyDeviceInfoList);
    return call != nullptr && call(set);
}

bool SetupApi::EnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) const {
    auto call = Entry<decltype(&::SetupDiEnumDeviceInfo)>(kEnumDeviceInfo);
    return call != nullptr && call(set, index, device);
}

bool SetupApi::EnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* device,
                                    const GUID* interfaceGuid, DWORD index,
                                    SP_DEVICE_INTERFACE_DATA* interfaceData) const {
    auto call = Entry<decltype(&::SetupDiEnumDeviceInterfaces)>(kEnumDeviceInterfaces);
    return call != nullptr && call(set, device, interfaceGuid, index, interfaceData);
}

bool SetupApi::GetDeviceInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                                        DWORD* requiredSize, SP_DEVINFO_DATA* device) const {
    auto call = Entry<decltype(&::SetupDiGetDeviceInterfaceDetailA)>(kGetDeviceInterfaceDetail);
    return call != nullptr && call(set, interfaceData, detail, detailSize, requiredSize, device);
}

bool SetupApi::SetClassInstallParams(HDEVINFO set, SP_DEVINFO_DATA* device,
                                     SP_CLASSINSTALL_HEADER* params, DWORD paramsSize) const {
    auto call = Entry<decltype(&::SetupDiSetClassInstallParamsA)>(kSetClassInstallParams);
    return call != nullptr && call(set, device, params, paramsSize);
}

bool SetupApi::CallClassInstaller(DI_FUNCTION function, HDEVINFO set,
                                  SP_DEVINFO_DATA* device) const {
    auto call = Entry<decltype(&::SetupDiCallClassInstaller)>(kCallClassInstaller);
    return call != nullptr && call(function, set, device);
}

bool SetupApi::GetDeviceInfoListDetail(HDEVINFO set, SP_DEVINFO_LIST_DETAIL_DATA_A* detail) const {
    auto call = Entry<decltype(&::SetupDiGetDeviceInfoListDetailA)>(kGetDeviceInfoListDetail);
    return call != nullptr && call(set, detail);
}

bool SetupApi::ClassGuidsFromName(const char* className, GUID* guids, DWORD guidCount,
                                  DWORD* requiredCount) const {
    auto call = Entry<decltype(&::SetupDiClassGuidsFromNameA)>(kClassGuidsFromName);
    return call != nullptr && call(className, guids, guidCount, requiredCount);
}

// cfgmgr32.dll ----------------------------------------------------------

CONFIGRET CfgMgrApi::GetDeviceIdEx(DEVINST device, char* buffer, ULONG length, ULONG flags,
                                   HMACHINE machine) const {
    auto call = Entry<decltype(&::CM_Get_Device_ID_ExA)>(kGetDeviceIdEx);
    return call != nullptr ? call(device, buffer, length, flags, machine) : CR_FAILURE;
}

CONFIGRET CfgMgrApi::GetParent(DEVINST* parent, DEVINST device) const {
    auto call = Entry<decltype(&::CM_Get_Parent)>(kGetParent);
    return call != nullptr ? call(parent, device, 0) : CR_FAILURE;
}

CONFIGRET CfgMgrApi::GetDevNodeRegistryProperty(DEVINST device, ULONG property, void* buffer,
                                                ULONG* length) const {
    auto call = Entry<decltype(&::CM_Get_DevNode_Registry_PropertyA)>(kGetDevNodeRegistryProperty);
    return call != nullptr ? call(device, property, nullptr, buffer, length, 0) : CR_FAILURE;
}

// version.dll -----------------------------------------------------------

DWORD VersionApi::GetFileVersionInfoSize(const char* fileName) const {
    auto call = Entry<decltype(&::GetFileVersionInfoSizeA)>(kGetFileVersionInfoSize);
    DWORD ignored = 0;
    return call != nullptr ? call(fileName, &ignored) : 0;
}

bool VersionApi::GetFileVersionInfo(const char* fileName, DWORD size, void* data) const {
    auto call = Entry<decltype(&::GetFileVersionInfoA)>(kGetFileVersionInfo);
    return call != nullptr && call(fileName, 0, size, data);
}

bool VersionApi::VerQueryValue(const void* block, const char* subBlock, void** value,
                               UINT* length) const {
    auto call = Entry<decltype(&::VerQueryValueA)>(kVerQueryValue);
    return call != nullptr && call(block, subBlock, value, length);
}

}  // namespace farsend::link

// The system libraries the HID backend binds at run time, one table each,
// and the process-wide tables. Every call goes through a table; a call whose
// entry point is missing is not made and fails: a BOOL-like result is false,
// a handle is null, the GUID query leaves its output as it was, the
// capability query returns a failure status and the device-identifier query
// returns CR_FAILURE (so the identifier counts as empty).
//
// The tables are used by the threads that use the link, one at a time, so
// they take no lock.
#pragma once

#include <windows.h>
// After windows.h, which these headers expect.
#include <cfgmgr32.h>
#include <hidsdi.h>
#include <setupapi.h>

#include "link/win/binding_table.h"

namespace farsend::link {

// hid.dll. "HidD_GetNumInputBuffers" is resolved for completeness but not
// called; "HidD_FreePreparsedData" follows the capability query so that it
// can give back the memory it was handed.
class HidApi : public BindingTable<9> {
public:
    enum : size_t {
        kGetAttributes,
        kGetHidGuid,
        kGetPreparsedData,
        kSetFeature,
        kSetNumInputBuffers,
        kGetNumInputBuffers,
        kGetCaps,
        kFreePreparsedData,
        kGetSerialNumberString,
    };
    static constexpr std::array<const char*, 9> kNames = {
        "HidD_GetAttributes", "HidD_GetHidGuid",         "HidD_GetPreparsedData",
        "HidD_SetFeature",    "HidD_SetNumInputBuffers", "HidD_GetNumInputBuffers",
        "HidP_GetCaps",       "HidD_FreePreparsedData",  "HidD_GetSerialNumberString",
    };
    constexpr HidApi() : BindingTable(kNames) {}

    bool GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) const;
    void GetHidGuid(GUID* guid) const;
    bool GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* data) const;
    bool SetFeature(HANDLE device, void* report, ULONG length) const;
    bool SetNumInputBuffers(HANDLE device, ULONG count) const;
    bool GetNumInputBuffers(HANDLE device, ULONG* count) const;
    NTSTATUS GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS* caps) const;
    bool FreePreparsedData(PHIDP_PREPARSED_DATA data) const;
    // The USB serial number string, in UTF-16, into `buffer` of `bytes`.
    bool GetSerialNumberString(HANDLE device, wchar_t* buffer, ULONG bytes) const;
};

// setupapi.dll.
class SetupApi : public BindingTable<9> {
public:
    enum : size_t {
        kGetClassDevs,
        kDestroyDeviceInfoList,
        kEnumDeviceInfo,
        kEnumDeviceInterfaces,
        kGetDeviceInterfaceDetail,
        kSetClassInstallParams,
        kCallClassInstaller,
        kGetDeviceInfoListDetail,
        kClassGuidsFromName,
    };
    static constexpr std::array<const char*, 9> kNames = {
        "SetupDiGetClassDevsA",
        "SetupDiDestroyDeviceInfoList",
        "SetupDiEnumDeviceInfo",
        "SetupDiEnumDeviceInterfaces",
        "SetupDiGetDeviceInterfaceDetailA",
        "SetupDiSetClassInstallParamsA",
        "SetupDiCallClassInstaller",
        "SetupDiGetDeviceInfoListDetailA",
        "SetupDiClassGuidsFromNameA",
    };
    constexpr SetupApi() : BindingTable(kNames) {}

    // Null when the entry point is missing, INVALID_HANDLE_VALUE when the
    // system refuses: callers check for both.
    HDEVINFO GetClassDevs(const GUID* classGuid, const char* enumerator, HWND parent,
                          DWORD flags) const;
    bool DestroyDeviceInfoList(HDEVINFO set) const;
    bool EnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) const;
    bool EnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* device, const GUID* interfaceGuid,
                              DWORD index, SP_DEVICE_INTERFACE_DATA* interfaceData) const;
    bool GetDeviceInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                  SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                                  DWORD* requiredSize, SP_DEVINFO_DATA* device) const;
    bool SetClassInstallParams(HDEVINFO set, SP_DEVINFO_DATA* device,
                               SP_CLASSINSTALL_HEADER* params, DWORD paramsSize) const;
    bool CallClassInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* device) const;
    bool GetDeviceInfoListDetail(HDEVINFO set, SP_DEVINFO_LIST_DETAIL_DATA_A* detail) const;
    bool ClassGuidsFromName(const char* className, GUID* guids, DWORD guidCount,
                            DWORD* requiredCount) const;
};

// cfgmgr32.dll.
class CfgMgrApi : public BindingTable<3> {
public:
    enum : size_t { kGetDeviceIdEx, kGetParent, kGetDevNodeRegistryProperty };
    static constexpr std::array<const char*, 3> kNames = {"CM_Get_Device_ID_ExA", "CM_Get_Parent",
                                                          "CM_Get_DevNode_Registry_PropertyA"};
    constexpr CfgMgrApi() : BindingTable(kNames) {}

    CONFIGRET GetDeviceIdEx(DEVINST device, char* buffer, ULONG length, ULONG flags,
                            HMACHINE machine) const;
    CONFIGRET GetParent(DEVINST* parent, DEVINST device) const;
    CONFIGRET GetDevNodeRegistryProperty(DEVINST device, ULONG property, void* buffer,
                                         ULONG* length) const;
};

// version.dll, for the file-version text of the HID library. Bound like the
// others so that it, too, comes only from the system directory.
class VersionApi : public BindingTable<3> {
public:
    enum : size_t { kGetFileVersionInfoSize, kGetFileVersionInfo, kVerQueryValue };
    static constexpr std::array<const char*, 3> kNames = {"GetFileVersionInfoSizeA",
                                                          "GetFileVersionInfoA", "VerQueryValueA"};
    constexpr VersionApi() : BindingTable(kNames) {}

    DWORD GetFileVersionInfoSize(const char* fileName) const;
    bool GetFileVersionInfo(const char* fileName, DWORD size, void* data) const;
    bool VerQueryValue(const void* block, const char* subBlock, void** value, UINT* length) const;
};

// The process-wide tables, loaded on first use and unloaded at exit.
extern HidApi hidApi;
extern SetupApi setupApi;
extern CfgMgrApi cfgMgrApi;
extern VersionApi versionApi;

}  // namespace farsend::link

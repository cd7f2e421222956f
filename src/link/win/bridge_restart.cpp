#include "link/win/bridge_restart.h"

#include <cstdio>

#include "link/win/system_libraries.h"

namespace farsend::link {
namespace {

constexpr DWORD kDeviceIdLength = 200;

// Sends the property change to one device; true when the class installer
// took it.
bool SendPropertyChange(HDEVINFO set, SP_DEVINFO_DATA* device) {
    SP_PROPCHANGE_PARAMS params{};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = DICS_PROPCHANGE;
    params.Scope = DICS_FLAG_CONFIGSPECIFIC;
    params.HwProfile = 0;  // the current hardware profile
    return setupApi.SetClassInstallParams(set, device, &params.ClassInstallHeader, sizeof params) &&
           setupApi.CallClassInstaller(DIF_PROPERTYCHANGE, set, device);
}

}  // namespace

std::string BridgeHardwarePattern(uint16_t vendorId, uint16_t productId) {
    char pattern[32];
    std::snprintf(pattern, sizeof pattern, "USB\\VID_%04x&PID_%04x", vendorId, productId);
    return pattern;
}

int RestartBridgeDevice(uint16_t vendorId, uint16_t productId, const RestartChoice& choice) {
    if (!setupApi.Bind("setupapi.dll")) return -4;
    if (!cfgMgrApi.Bind("cfgmgr32.dll")) return 0;
    const std::string pattern = BridgeHardwarePattern(vendorId, productId);

    GUID hidClass{};
    DWORD required = 0;
    setupApi.ClassGuidsFromName("HIDClass", &hidClass, 1, &required);

    HDEVINFO set = setupApi.GetClassDevs(&hidClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == nullptr || set == INVALID_HANDLE_VALUE) return 1;

    // The record sizes are those of this build's ABI (the 32-bit layout is
    // smaller); the system checks cbSize against its own.
    SP_DEVINFO_LIST_DETAIL_DATA_A listDetail{};
    listDetail.cbSize = sizeof listDetail;
    HMACHINE machine = nullptr;
    if (setupApi.GetDeviceInfoListDetail(set, &listDetail))
        machine = listDetail.RemoteMachineHandle;

    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!setupApi.EnumDeviceInfo(set, index, &device)) break;

        char deviceId[kDeviceIdLength + 1] = {};
        if (cfgMgrApi.GetDeviceIdEx(device.DevInst, deviceId, kDeviceIdLength, 0, machine) !=
            CR_SUCCESS) {
            deviceId[0] = '\0';
        }
        deviceId[kDeviceIdLength] = '\0';
        // Case-sensitive on purpose: the pattern is spelt in lower case.
        if (!IsDeviceToRestart(deviceId, pattern, choice)) continue;
        if (SendPropertyChange(set, &device)) break;
    }
    setupApi.DestroyDeviceInfoList(set);
    return 1;
}

}  // namespace farsend::link

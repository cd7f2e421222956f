#include "app/programming_setup.h"

#include <algorithm>

#include "app/window_texts.h"
#include "firmware/firmware_selection.h"
#include "firmware/image_names.h"

namespace farsend::app {

std::string DeviceTypeText(DeviceType type) {
    switch (type) {
        case DeviceType::Bluetooth:
            return "Bluetooth";
        case DeviceType::ZigBee:
            return "ZigBee";
        default:
            return "";
    }
}

std::string HardwareVersionText(HardwareVersion version) {
    switch (version) {
        case HardwareVersion::V1_0:
            return "1.0";
        case HardwareVersion::V1_5:
            return "1.5";
        case HardwareVersion::V2_0:
            return "2.0";
        default:
            return "";
    }
}

namespace {

template <typename T>
std::optional<int> PositionOf(const std::vector<T>& entries, T value) {
    const auto found = std::find(entries.begin(), entries.end(), value);
    if (found == entries.end()) return std::nullopt;
    return static_cast<int>(found - entries.begin());
}

}  // namespace

ProgrammingSetup::ProgrammingSetup(ToolSettings& settings) : settings_(settings) {
    bootloaderChecked_ = settings.flashMode.load() == FlashMode::BootloaderAndApplication;
    if (settings.zigbeeAvailable.load()) deviceTypeEntries_.push_back(DeviceType::ZigBee);
    if (settings.bluetoothAvailable.load()) deviceTypeEntries_.push_back(DeviceType::Bluetooth);
    if (settings.version10Available.load())
        hardwareVersionEntries_.push_back(HardwareVersion::V1_0);
    if (settings.version15Available.load())
        hardwareVersionEntries_.push_back(HardwareVersion::V1_5);
    if (settings.version20Available.load())
        hardwareVersionEntries_.push_back(HardwareVersion::V2_0);
    deviceType_ = settings.deviceType.load();
    hardwareVersion_ = settings.hardwareVersion.load();
    autoSelect_ = settings.autoSelect.load();
    validate_ = settings.validateDevice.load();
    path_ = settings.firmwarePath.Get();
}

std::optional<int> ProgrammingSetup::DeviceTypeSelection() const {
    if (!autoSelect_) return std::nullopt;
    return PositionOf(deviceTypeEntries_, deviceType_);
}

std::optional<int> ProgrammingSetup::HardwareVersionSelection() const {
    if (!autoSelect_) return std::nullopt;
    return PositionOf(hardwareVersionEntries_, hardwareVersion_);
}

std::string ProgrammingSetup::ShownFileName() const {
    return firmware::GetFileNamePart(path_);
}

void ProgrammingSetup::ChooseApplication() {
    bootloaderChecked_ = false;
    if (autoSelect_) Reselect();
}

void ProgrammingSetup::ChooseBootloaderAndApplication() {
    bootloaderChecked_ = true;
    if (autoSelect_) Reselect();
}

void ProgrammingSetup::ChooseDeviceTypeEntry(int position) {
    if (position < 0 || position >= static_cast<int>(deviceTypeEntries_.size())) return;
    deviceType_ = deviceTypeEntries_[static_cast<size_t>(position)];
    if (autoSelect_) Reselect();
}

void ProgrammingSetup::ChooseHardwareVersionEntry(int position) {
    if (position < 0 || position >= static_cast<int>(hardwareVersionEntries_.size())) return;
    hardwareVersion_ = hardwareVersionEntries_[static_cast<size_t>(position)];
    if (autoSelect_) Reselect();
}

void ProgrammingSetup::ToggleAutoSelect() {
    autoSelect_ = !autoSelect_;
    if (autoSelect_) {
        if (deviceType_ == DeviceType::Any) deviceType_ = jobs::PreferredDeviceType(settings_);
        if (hardwareVersion_ == HardwareVersion::Any) {
            hardwareVersion_ = jobs::PreferredHardwareVersion(settings_);
        }
        // From now on the directory is scanned, even if the dialog is
        // cancelled: a file named on the command line no longer wins.
        settings_.commandLineFile.Set("");
        Reselect();
    } else {
        // The pending file stays what was last selected.
        deviceType_ = DeviceType::Any;
        hardwareVersion_ = HardwareVersion::Any;
    }
}

std::string ProgrammingSetup::BrowseStartPath() const {
    return settings_.firmwarePath.Get();
}

void ProgrammingSetup::BrowseChosen(const std::string& path) {
    path_ = path;
    bootloaderChecked_ = firmware::IsFactoryImageName(path);
}

void ProgrammingSetup::Apply() {
    SetFlashMode(settings_,
                 bootloaderChecked_ ? FlashMode::BootloaderAndApplication : FlashMode::Application);
    settings_.deviceType.store(deviceType_);
    settings_.hardwareVersion.store(hardwareVersion_);
    settings_.autoSelect.store(autoSelect_);
    settings_.validateDevice.store(validate_);
    if (autoSelect_) {
        const auto chosen = firmware::SelectFirmwareFile(
            settings_.Search(), {deviceType_, hardwareVersion_, bootloaderChecked_});
        settings_.firmwarePath.Set(chosen.value_or(""));
    } else {
        settings_.firmwarePath.Set(path_);
    }
    RefreshFileName(settings_);
    RefreshTitle(settings_);
}

void ProgrammingSetup::Reselect() {
    const auto chosen = firmware::SelectFirmwareFile(
        settings_.Search(), {deviceType_, hardwareVersion_, bootloaderChecked_});
    path_ = chosen.value_or("");
}

}  // namespace farsend::app

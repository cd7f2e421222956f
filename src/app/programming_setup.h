// The programming setup dialog without its window: the values the operator
// is choosing (pending until OK) and the rules that tie them together. The
// Win32 dialog only shows this state in its controls and forwards clicks.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/tool_settings.h"

namespace farsend::app {

// Texts of the list entries: "ZigBee", "Bluetooth"; "1.0", "1.5", "2.0".
std::string DeviceTypeText(DeviceType type);
std::string HardwareVersionText(HardwareVersion version);

class ProgrammingSetup {
public:
    // Opening the dialog: every pending value starts from the applied
    // settings, and the lists hold the variants and versions the start-up
    // scan found (ZigBee before Bluetooth; 1.0, 1.5, 2.0).
    explicit ProgrammingSetup(ToolSettings& settings);

    // --- What the controls show ---
    bool ApplicationChecked() const { return !bootloaderChecked_; }
    bool BootloaderChecked() const { return bootloaderChecked_; }
    bool AutoSelectChecked() const { return autoSelect_; }
    bool ValidateChecked() const { return validate_; }
    const std::vector<DeviceType>& DeviceTypeEntries() const { return deviceTypeEntries_; }
    const std::vector<HardwareVersion>& HardwareVersionEntries() const {
        return hardwareVersionEntries_;
    }
    // Position of the selected entry; nothing while auto-select is off or the
    // pending value is Any or not listed.
    std::optional<int> DeviceTypeSelection() const;
    std::optional<int> HardwareVersionSelection() const;
    // The two lists follow auto-select; the file name and the browse button
    // are the other way round.
    bool ListsEnabled() const { return autoSelect_; }
    bool FileChoiceEnabled() const { return !autoSelect_; }
    // The name part of the pending file ("" for none).
    std::string ShownFileName() const;

    DeviceType PendingDeviceType() const { return deviceType_; }
    HardwareVersion PendingHardwareVersion() const { return hardwareVersion_; }
    const std::string& PendingPath() const { return path_; }

    // --- What the operator does ---
    void ChooseApplication();
    void ChooseBootloaderAndApplication();
    // A confirmed choice in a list, by position; a position outside the list
    // changes nothing.
    void ChooseDeviceTypeEntry(int position);
    void ChooseHardwareVersionEntry(int position);
    void ToggleAutoSelect();
    void ToggleValidate() { validate_ = !validate_; }

    // Browse: the Open dialog starts from the applied firmware file. A chosen
    // file becomes the pending path and sets the pending image kind from its
    // name; the flash mode itself changes only with OK, together with the
    // file, so a cancelled dialog cannot leave the factory mode armed for an
    // application image.
    std::string BrowseStartPath() const;
    void BrowseChosen(const std::string& path);

    // OK: flash mode, variant, version, auto-select and validation are
    // applied; the firmware file is chosen again (auto-select on) or becomes
    // the pending path; file name and title are refreshed.
    void Apply();

private:
    void Reselect();

    ToolSettings& settings_;
    bool bootloaderChecked_ = false;
    bool autoSelect_ = false;
    bool validate_ = true;
    DeviceType deviceType_ = DeviceType::Any;
    HardwareVersion hardwareVersion_ = HardwareVersion::Any;
    std::string path_;
    std::vector<DeviceType> deviceTypeEntries_;
    std::vector<HardwareVersion> hardwareVersionEntries_;
};

}  // namespace farsend::app

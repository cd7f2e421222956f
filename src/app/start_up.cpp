#include "app/start_up.h"

#include "app/window_texts.h"
#include "firmware/firmware_selection.h"
#include "firmware/platform_paths.h"

namespace farsend::app {
namespace {

using firmware::SelectionRequest;

// Whether any file of the kind exists, factory image or application image.
bool AnyImageFor(const firmware::FirmwareSearch& search, DeviceType type, HardwareVersion version) {
    return firmware::SelectFirmwareFile(search, SelectionRequest{type, version, true}) ||
           firmware::SelectFirmwareFile(search, SelectionRequest{type, version, false});
}

void ScanAvailability(ToolSettings& settings) {
    const firmware::FirmwareSearch search = settings.Search();

    settings.bluetoothAvailable.store(
        AnyImageFor(search, DeviceType::Bluetooth, HardwareVersion::Any));
    settings.zigbeeAvailable.store(AnyImageFor(search, DeviceType::ZigBee, HardwareVersion::Any));
    if (settings.deviceType.load() == DeviceType::Any) {
        settings.deviceType.store(jobs::PreferredDeviceType(settings));
    }

    settings.version10Available.store(AnyImageFor(search, DeviceType::Any, HardwareVersion::V1_0));
    settings.version15Available.store(AnyImageFor(search, DeviceType::Any, HardwareVersion::V1_5));
    settings.version20Available.store(AnyImageFor(search, DeviceType::Any, HardwareVersion::V2_0));
    if (settings.hardwareVersion.load() == HardwareVersion::Any) {
        settings.hardwareVersion.store(jobs::PreferredHardwareVersion(settings));
    }
}

}  // namespace

std::string DefaultFirmwareDirectory(const std::string& workingDirectory) {
    return firmware::JoinPath(workingDirectory, "..");
}

StartUpReport StartUp(ToolSettings& settings, const StartUpInputs& inputs, const WordClaim& claim) {
    StartUpReport report;

    // 1. The working directory, kept only when its 8-bit form is whole.
    std::optional<std::string> workingDirectoryProblem;
    if (!inputs.workingDirectory) {
        workingDirectoryProblem = "The current directory could not be read.";
    } else if (!inputs.workingDirectory->exact) {
        workingDirectoryProblem = PathRefusal(*inputs.workingDirectory);
    } else {
        settings.workingDirectory.Set(inputs.workingDirectory->text);
    }

    // 2. Defaults. No window exists yet, so only the flags change.
    SetAutoProgram(settings, false);
    SetFlashMode(settings, FlashMode::Application);
    settings.validateDevice.store(true);

    // 3. The command line.
    if (inputs.arguments) {
        CommandLineOutcome outcome = ApplyCommandLine(settings, *inputs.arguments, claim);
        report.claimedWords = std::move(outcome.claimedWords);
        report.warnings = std::move(outcome.warnings);
    }

    // 4. The firmware directory: the one named on the command line while it
    // exists, else the working directory's parent.
    const std::string commandLineDirectory = settings.commandLineDirectory.Get();
    if (!commandLineDirectory.empty() && firmware::IsExistingDirectory(commandLineDirectory)) {
        settings.firmwareDirectory.Set(commandLineDirectory);
    } else if (workingDirectoryProblem) {
        report.warnings.push_back(*workingDirectoryProblem +
                                  "\nNo firmware directory is searched.");
        settings.firmwareDirectory.Set("");
    } else {
        CommandLineArgument directory =
            ArgumentFromText(DefaultFirmwareDirectory(settings.workingDirectory.Get()));
        if (auto refusal = PathRefusal(directory)) {
            report.warnings.push_back(*refusal + "\nNo firmware directory is searched.");
            settings.firmwareDirectory.Set("");
        } else {
            settings.firmwareDirectory.Set(directory.text);
        }
    }

    // 5. Which variants and versions are on hand, and the defaults they imply.
    ScanAvailability(settings);

    // 6. Auto-selection is on when firmware was found, unless a file was named.
    const bool anyVariant = settings.bluetoothAvailable.load() || settings.zigbeeAvailable.load();
    settings.autoSelect.store(anyVariant &&
                              !firmware::IsExistingRegularFile(settings.commandLineFile.Get()));

    // 7. Run-time state starts afresh.
    settings.connectionState.store(ConnectionState::NeverConnected);
    settings.programRequest.store(ProgramRequest::None);
    settings.comPort.store(1);
    settings.serialSpeed.store(115200);

    // 8. The firmware file, whatever autoSelect says; empty when none matches.
    const SelectionRequest request{
        settings.deviceType.load(), settings.hardwareVersion.load(),
        settings.flashMode.load() == FlashMode::BootloaderAndApplication};
    settings.firmwarePath.Set(
        firmware::SelectFirmwareFile(settings.Search(), request).value_or(std::string()));
    return report;
}

StartUpInputs ReadStartUpInputs(int argc, char** argv) {
    return StartUpInputs{ReadWorkingDirectory(), ReadCommandLine(argc, argv)};
}

}  // namespace farsend::app

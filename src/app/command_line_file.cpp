#include "app/command_line_file.h"

#include "app/window_texts.h"
#include "firmware/image_names.h"

namespace farsend::app {

std::optional<std::string> MatchFlashModeToCommandLineFile(ToolSettings& settings) {
    const std::string path = settings.commandLineFile.Get();
    // A missing file was passed over by start-up, and a file the directory
    // scan chose already agrees with the mode.
    if (path.empty() || settings.firmwarePath.Get() != path) return std::nullopt;
    const bool factoryImage = firmware::IsFactoryImageName(path);
    const bool factoryMode = settings.flashMode.load() == FlashMode::BootloaderAndApplication;
    if (factoryImage == factoryMode) return std::nullopt;
    SetFlashMode(settings,
                 factoryImage ? FlashMode::BootloaderAndApplication : FlashMode::Application);
    RefreshTitle(settings);
    if (factoryImage) return std::nullopt;
    return firmware::GetFileNamePart(path) +
           " is not a factory image (its name has no _f marker), so it will be programmed as "
           "an application.\nProgramming it in factory mode would erase the target's "
           "bootloader and leave the target without one.";
}

}  // namespace farsend::app

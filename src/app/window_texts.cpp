#include "app/window_texts.h"

#include "firmware/image_names.h"

namespace farsend::app {

TitleAndColour TitleFor(DeviceType deviceType, FlashMode flashMode) {
    TitleAndColour result;
    switch (deviceType) {
        case DeviceType::Bluetooth:
            result = {"Farsend Flasher - Bluetooth", Colour{0, 138, 174}};
            break;
        case DeviceType::ZigBee:
            result = {"Farsend Flasher - ZigBee", Colour{128, 171, 99}};
            break;
        default:
            result = {"Farsend Flasher", Colour{128, 128, 128}};
            break;
    }
    if (flashMode == FlashMode::BootloaderAndApplication) result.title += " Factory";
    return result;
}

std::string ConnectionText(ConnectionState state) {
    return state == ConnectionState::Connected ? "CONNECTED" : "NOT CONNECTED";
}

void SetFlashMode(ToolSettings& settings, FlashMode mode) {
    settings.flashMode.store(mode);
}

void SetAutoProgram(ToolSettings& settings, bool on) {
    settings.autoProgram.store(on);
    if (MainWindowView* view = settings.view.load()) view->SetAutoProgramChecked(on);
}

void RefreshTitle(const ToolSettings& settings) {
    MainWindowView* view = settings.view.load();
    if (!view) return;
    const TitleAndColour look = TitleFor(settings.deviceType.load(), settings.flashMode.load());
    view->SetTitle(look.title, look.colour);
}

void RefreshConnectionText(const ToolSettings& settings) {
    ShowConnectionText(settings.view.load(), settings.connectionState.load());
}

void ShowConnectionText(MainWindowView* view, ConnectionState state) {
    if (view) view->SetStatusText(StatusPart::Connection, ConnectionText(state));
}

void RefreshFileName(const ToolSettings& settings) {
    ShowFileName(settings.view.load(), settings.firmwarePath.Get());
}

void ShowFileName(MainWindowView* view, const std::string& path) {
    if (view) view->SetStatusText(StatusPart::FileName, firmware::GetFileNamePart(path));
}

}  // namespace farsend::app

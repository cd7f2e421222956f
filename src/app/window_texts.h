// Operations that keep the settings and the main window in step: the flash
// mode and auto-program switches, the title and colour, and the two
// status-bar texts. Each does nothing to the window while no view is attached.
#pragma once

#include <string>

#include "app/main_window_view.h"
#include "app/tool_settings.h"

namespace farsend::app {

struct TitleAndColour {
    std::string title;
    Colour colour;
};

// Title and background colour for the requested variant; " Factory" is
// appended for a factory image.
TitleAndColour TitleFor(DeviceType deviceType, FlashMode flashMode);

// "CONNECTED" when connected, else "NOT CONNECTED".
std::string ConnectionText(ConnectionState state);

void SetFlashMode(ToolSettings& settings, FlashMode mode);
// Sets autoProgram and the menu's check mark to match.
void SetAutoProgram(ToolSettings& settings, bool on);

void RefreshTitle(const ToolSettings& settings);
void RefreshConnectionText(const ToolSettings& settings);
// The same for one station, on `view` (nothing when null).
void ShowConnectionText(MainWindowView* view, ConnectionState state);
// Shows the name part of firmwarePath (empty for no file).
void RefreshFileName(const ToolSettings& settings);
void ShowFileName(MainWindowView* view, const std::string& path);

}  // namespace farsend::app

// What the settings operations ask of the main window. The Win32 shell
// implements it with the window, its status bar and its menu; the command-line
// front end prints; tests record the calls.
#pragma once

#include <cstdint>
#include <string>

namespace farsend::app {

struct Colour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;

    // The Windows COLORREF layout, 0x00BBGGRR.
    uint32_t ColorRef() const {
        return static_cast<uint32_t>(red) | (static_cast<uint32_t>(green) << 8) |
               (static_cast<uint32_t>(blue) << 16);
    }
    bool operator==(const Colour& other) const {
        return red == other.red && green == other.green && blue == other.blue;
    }
};

enum class StatusPart : int {
    Connection = 0,  // "CONNECTED" / "NOT CONNECTED"
    FileName = 1,    // name of the chosen firmware file
};

class MainWindowView {
public:
    virtual ~MainWindowView() = default;

    // Window title and the background colour of the whole client area.
    virtual void SetTitle(const std::string& title, Colour background) = 0;
    // May be called from any thread. Before the status bar exists the view
    // keeps nothing; the shell refreshes both parts once it has made it.
    virtual void SetStatusText(StatusPart part, const std::string& text) = 0;
    // The check mark of the auto-program menu item.
    virtual void SetAutoProgramChecked(bool checked) = 0;
};

}  // namespace farsend::app

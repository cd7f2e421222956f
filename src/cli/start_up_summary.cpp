#include "cli/start_up_summary.h"

#include <cstdio>

#include "app/main_window_view.h"
#include "app/window_texts.h"

namespace farsend::cli {
namespace {

// Keeps what the window would show.
class CapturedWindow final : public app::MainWindowView {
public:
    void SetTitle(const std::string& title, app::Colour background) override {
        title_ = title;
        colour_ = background;
    }
    void SetStatusText(app::StatusPart part, const std::string& text) override {
        (part == app::StatusPart::Connection ? connection_ : fileName_) = text;
    }
    void SetAutoProgramChecked(bool /*checked*/) override {}

    std::string title_, connection_, fileName_;
    app::Colour colour_;
};

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

std::string DeviceTypeText(app::DeviceType type) {
    switch (type) {
        case app::DeviceType::Any:
            return "Any";
        case app::DeviceType::Bluetooth:
            return "Bluetooth";
        case app::DeviceType::ZigBee:
            return "ZigBee";
    }
    return "unknown (" + std::to_string(static_cast<int>(type)) + ")";
}

std::string VersionText(app::HardwareVersion version) {
    switch (version) {
        case app::HardwareVersion::Any:
            return "Any";
        case app::HardwareVersion::V1_0:
            return "1.0";
        case app::HardwareVersion::V1_5:
            return "1.5";
        case app::HardwareVersion::V2_0:
            return "2.0";
    }
    return "unknown (" + std::to_string(static_cast<int>(version)) + ")";
}

void Line(std::string& out, const char* label, const std::string& value) {
    char head[32];
    std::snprintf(head, sizeof head, "  %-20s", label);
    out += head;
    out += value;
    out += '\n';
}

}  // namespace

std::string StartUpSummary(app::ToolSettings& settings) {
    CapturedWindow window;
    app::MainWindowView* previous = settings.view.exchange(&window);
    app::RefreshTitle(settings);
    app::RefreshConnectionText(settings);
    app::RefreshFileName(settings);
    settings.view.store(previous);

    const std::string firmwarePath = settings.firmwarePath.Get();
    char colour[64];
    std::snprintf(colour, sizeof colour, "%d, %d, %d (COLORREF 0x%08X)", window.colour_.red,
                  window.colour_.green, window.colour_.blue,
                  static_cast<unsigned>(window.colour_.ColorRef()));

    std::string out = "Farsend Flasher start-up\n";
    Line(out, "firmware directory:", settings.firmwareDirectory.Get());
    Line(out, "available:",
         std::string("Bluetooth ") + YesNo(settings.bluetoothAvailable) + ", ZigBee " +
             YesNo(settings.zigbeeAvailable) + ", 1.0 " + YesNo(settings.version10Available) +
             ", 1.5 " + YesNo(settings.version15Available) + ", 2.0 " +
             YesNo(settings.version20Available));
    Line(out, "device type:", DeviceTypeText(settings.deviceType));
    Line(out, "hardware version:", VersionText(settings.hardwareVersion));
    Line(out, "flash mode:",
         settings.flashMode == app::FlashMode::BootloaderAndApplication
             ? "bootloader and application (factory)"
             : "application");
    Line(out, "auto-select:", settings.autoSelect ? "on" : "off");
    Line(out, "auto-program:", settings.autoProgram ? "on" : "off");
    Line(out, "exit after program:", settings.exitAfterProgram ? "on" : "off");
    Line(out, "firmware file:", firmwarePath.empty() ? "(none)" : firmwarePath);
    Line(out, "title:", window.title_);
    Line(out, "colour:", colour);
    Line(out, "status bar:", window.connection_ + " | " + window.fileName_);
    return out;
}

}  // namespace farsend::cli

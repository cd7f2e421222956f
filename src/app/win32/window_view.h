// The main window as the settings operations see it (app::MainWindowView):
// title and class background brush, the two status-bar parts, and the check
// mark of the auto-program menu item.
#pragma once

#include <windows.h>

#include <atomic>

#include "app/main_window_view.h"

namespace farsend::app::win32 {

class WindowView final : public MainWindowView {
public:
    WindowView() = default;
    // Releases the last brush it installed, if the class no longer uses it.
    ~WindowView() override;
    WindowView(const WindowView&) = delete;
    WindowView& operator=(const WindowView&) = delete;

    void AttachWindow(HWND mainWindow) { mainWindow_.store(mainWindow); }
    void AttachStatusBar(HWND statusBar) { statusBar_.store(statusBar); }
    HWND MainWindow() const { return mainWindow_.load(); }
    HWND StatusBar() const { return statusBar_.load(); }

    // User-interface thread: a new solid brush becomes the class background
    // (the brush it replaces is deleted unless it is a stock object), then
    // the title is set and the whole client area repainted at once.
    void SetTitle(const std::string& title, Colour background) override;
    // Any thread: sent to the status bar, so it returns once shown.
    void SetStatusText(StatusPart part, const std::string& text) override;
    void SetAutoProgramChecked(bool checked) override;

    // The colour of the class background brush now in use.
    COLORREF BackgroundColour() const { return background_.load(); }

private:
    std::atomic<HWND> mainWindow_{nullptr};
    std::atomic<HWND> statusBar_{nullptr};
    std::atomic<COLORREF> background_{RGB(192, 192, 192)};
    HBRUSH ownBrush_ = nullptr;  // the brush we installed last
};

}  // namespace farsend::app::win32

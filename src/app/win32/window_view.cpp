#include "app/win32/window_view.h"

#include <commctrl.h>

#include "resources/resource_ids.h"

namespace farsend::app::win32 {

WindowView::~WindowView() {
    // The class may still refer to the brush while its window exists; a
    // window that is gone paints nothing.
    HWND window = mainWindow_.load();
    if (ownBrush_ != nullptr && (window == nullptr || !IsWindow(window))) {
        DeleteObject(ownBrush_);
    }
}

void WindowView::SetTitle(const std::string& title, Colour background) {
    HWND window = mainWindow_.load();
    if (window == nullptr) return;
    const COLORREF colour = background.ColorRef();
    HBRUSH brush = CreateSolidBrush(colour);
    if (brush != nullptr) {
        const auto replaced = reinterpret_cast<HBRUSH>(
            SetClassLongPtrA(window, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush)));
        // Stock brushes are never deleted; our own earlier brush is no longer
        // referenced by the class once it is replaced.
        if (replaced != nullptr && replaced == ownBrush_) DeleteObject(replaced);
        ownBrush_ = brush;
        background_.store(colour);
    }
    SetWindowTextA(window, title.c_str());
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
}

void WindowView::SetStatusText(StatusPart part, const std::string& text) {
    HWND bar = statusBar_.load();
    if (bar == nullptr) return;
    SendMessageA(bar, SB_SETTEXTA, static_cast<WPARAM>(part),
                 reinterpret_cast<LPARAM>(text.c_str()));
}

void WindowView::SetAutoProgramChecked(bool checked) {
    HWND window = mainWindow_.load();
    if (window == nullptr) return;
    CheckMenuItem(GetMenu(window), CMD_AUTO_PROGRAM,
                  MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

}  // namespace farsend::app::win32

// The main window's view in-process: the class background brush that
// RefreshTitle installs, and the one it replaces.
#include "app/win32/window_view.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace farsend::app::win32 {
namespace {

class WindowViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
        windowClass.lpszClassName = "farsend-view-test";
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(0, "farsend-view-test", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        view_.AttachWindow(window_);
    }
    void TearDown() override { DestroyWindow(window_); }

    HBRUSH ClassBrush() const {
        return reinterpret_cast<HBRUSH>(GetClassLongPtrA(window_, GCLP_HBRBACKGROUND));
    }
    static COLORREF BrushColour(HBRUSH brush) {
        LOGBRUSH description{};
        GetObjectA(brush, sizeof(description), &description);
        return description.lbColor;
    }

    HWND window_ = nullptr;
    WindowView view_;
};

TEST_F(WindowViewTest, EachTitleInstallsItsColourAndReleasesTheBrushItReplaces) {
    HBRUSH stock = ClassBrush();
    view_.SetTitle("Farsend Flasher - Bluetooth", Colour{0, 138, 174});
    HBRUSH first = ClassBrush();
    EXPECT_NE(first, stock);
    EXPECT_EQ(BrushColour(first), 0x00AE8A00u);
    // The stock brush it replaced is never deleted.
    EXPECT_EQ(GetObjectType(stock), static_cast<DWORD>(OBJ_BRUSH));

    view_.SetTitle("Farsend Flasher - ZigBee", Colour{128, 171, 99});
    HBRUSH second = ClassBrush();
    EXPECT_EQ(BrushColour(second), 0x0063AB80u);
    EXPECT_EQ(GetObjectType(first), 0u) << "the replaced brush is still alive";

    char title[64] = {};
    GetWindowTextA(window_, title, sizeof(title));
    EXPECT_STREQ(title, "Farsend Flasher - ZigBee");
    EXPECT_EQ(view_.BackgroundColour(), 0x0063AB80u);
}

TEST_F(WindowViewTest, WithoutAStatusBarTextsAreDropped) {
    view_.SetStatusText(StatusPart::FileName, "Farsend_15_bt.hex");  // no crash, nothing kept
    EXPECT_EQ(view_.StatusBar(), nullptr);
}

}  // namespace
}  // namespace farsend::app::win32

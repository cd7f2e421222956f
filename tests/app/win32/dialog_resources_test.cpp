// The six dialog templates, checked twice: as stored (template kind, style,
// font, caption, rectangles in dialog units, controls in order) and as the
// system builds them (CreateDialogParamA: caption, child windows with their
// ids, classes, texts and styles, font).
#include <gtest/gtest.h>
#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

#include "dialog_template.h"
#include "resources/resource_ids.h"

namespace farsend::app::win32::test {
namespace {

struct Rect {
    int16_t x, y, cx, cy;
};

struct ExpectedControl {
    uint32_t id;
    const char* className;
    const char* text;
    uint32_t style;
    Rect rect;
};

struct ExpectedDialog {
    const char* name;
    bool extended;
    uint32_t style;
    const char* caption;
    const char* face;  // nullptr: the system font
    uint16_t pointSize;
    Rect rect;
    std::vector<ExpectedControl> controls;
};

constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kLabel = kChild | WS_GROUP | SS_LEFT;
constexpr uint32_t kDefaultButton = kChild | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr uint32_t kButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr uint32_t kGroup = kChild | BS_GROUPBOX;
constexpr uint32_t kCheck = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr uint32_t kDropList = kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;

// Job dialogs: pop-up, caption, modal frame, font set; no system menu.
constexpr uint32_t kJobStyle = 0x80C000C0;
// Setup dialogs: pop-up, caption, system menu, modal frame (+ font set).
constexpr uint32_t kSetupStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

const std::vector<ExpectedDialog>& Dialogs() {
    static const std::vector<ExpectedDialog> dialogs = {
        {"erasedefDB",
         false,
         kJobStyle,
         "Erasing Target Flash",
         "Arial",
         8,
         {18, 18, 170, 35},
         {{202, "Static", "Progress:", kLabel, {5, 1, 150, 10}}}},
        {"eraseallDB",
         false,
         kJobStyle,
         "Erasing ALL of Target Flash",
         "Arial",
         8,
         {18, 18, 170, 35},
         {{202, "Static", "Progress:", kLabel, {5, 1, 150, 10}}}},
        {"progDB",
         false,
         kJobStyle,
         "Programming Application",
         "Arial",
         8,
         {18, 18, 205, 70},
         {{202, "Static", "Erase Progress:", kLabel, {7, 3, 150, 10}},
          {203, "Static", "Programming Progress:", kLabel, {7, 33, 150, 10}}}},
        {"progbootDB",
         false,
         kJobStyle,
         "Programming Bootloader and Application",
         "Arial",
         8,
         {18, 18, 205, 70},
         {{202, "Static", "Erase Progress:", kLabel, {7, 3, 150, 10}},
          {203, "Static", "Programming Progress:", kLabel, {7, 33, 150, 10}}}},
        {"flashsetupDB",
         true,
         kSetupStyle | DS_SETFONT,
         "Programming Setup",
         "Arial",
         8,
         {18, 18, 174, 160},
         {{1, "Button", "OK", kDefaultButton, {20, 140, 40, 14}},
          {2, "Button", "Cancel", kButton, {105, 140, 40, 14}},
          {800, "Button", "Programming Options", kGroup, {3, 1, 168, 35}},
          {801, "Button", "Flash Application", kCheck, {7, 10, 140, 12}},
          {802, "Button", "Flash Bootloader and Application", kCheck, {7, 22, 140, 12}},
          {803, "Button", "Device Type", kGroup, {3, 36, 168, 30}},
          {804, "ComboBox", "", kDropList, {8, 47, 100, 97}},
          {805, "Button", "Device Version", kGroup, {3, 66, 168, 30}},
          {806, "ComboBox", "", kDropList, {8, 77, 100, 97}},
          {820, "Button", "File Options", kGroup, {3, 96, 168, 40}},
          {821, "Button", "Auto Select File", kCheck, {7, 105, 70, 12}},
          {825, "Button", "Validate Device", kCheck, {85, 105, 70, 12}},
          {822, "Static", "", kLabel, {11, 120, 130, 11}},
          {823, "Button", "", kGroup, {8, 114, 139, 18}},
          {824, "Button", "...", kButton, {150, 120, 14, 10}}}},
        {"serialsetupDB",
         false,
         kSetupStyle,
         "COM Port Selection",
         nullptr,
         0,
         {18, 18, 100, 64},
         {{1, "Button", "OK", kDefaultButton, {50, 12, 40, 14}},
          {2, "Button", "Cancel", kButton, {50, 40, 40, 14}},
          {500, "Button", "COM Port", kGroup, {1, 1, 40, 60}},
          {501, "Button", "COM1", kCheck, {3, 10, 30, 12}},
          {502, "Button", "COM2", kCheck, {3, 22, 30, 12}},
          {503, "Button", "COM3", kCheck, {3, 34, 30, 12}},
          {504, "Button", "COM4", kCheck, {3, 46, 30, 12}}}},
    };
    return dialogs;
}

// Failure messages name the dialog instead of dumping its bytes.
void PrintTo(const ExpectedDialog& dialog, std::ostream* out) {
    *out << dialog.name;
}

class DialogResource : public ::testing::TestWithParam<ExpectedDialog> {};

TEST_P(DialogResource, TemplateAsStored) {
    const ExpectedDialog& want = GetParam();
    auto got = LoadDialogTemplate(GetModuleHandleA(nullptr), want.name);
    ASSERT_TRUE(got.has_value()) << want.name << " missing or malformed";

    EXPECT_EQ(got->extended, want.extended);
    EXPECT_EQ(got->style, want.style) << std::hex << got->style;
    EXPECT_EQ(got->exStyle, 0u);
    EXPECT_EQ(got->caption, want.caption);
    EXPECT_EQ(got->menu, "");
    EXPECT_EQ(got->windowClass, "");
    EXPECT_EQ(got->x, want.rect.x);
    EXPECT_EQ(got->y, want.rect.y);
    EXPECT_EQ(got->cx, want.rect.cx);
    EXPECT_EQ(got->cy, want.rect.cy);
    EXPECT_EQ(got->hasFont, want.face != nullptr);
    if (want.face) {
        EXPECT_EQ(got->face, want.face);
        EXPECT_EQ(got->pointSize, want.pointSize);
    }

    ASSERT_EQ(got->controls.size(), want.controls.size());
    for (size_t i = 0; i < want.controls.size(); ++i) {
        const ExpectedControl& w = want.controls[i];
        const ControlTemplate& g = got->controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(w.id) + ")");
        EXPECT_EQ(g.id, w.id);
        EXPECT_EQ(g.className, w.className);
        EXPECT_EQ(g.text, w.text);
        EXPECT_EQ(g.style, w.style) << std::hex << g.style;
        EXPECT_EQ(g.exStyle, 0u);
        EXPECT_EQ(g.x, w.rect.x);
        EXPECT_EQ(g.y, w.rect.y);
        EXPECT_EQ(g.cx, w.rect.cx);
        EXPECT_EQ(g.cy, w.rect.cy);
    }
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

std::string WindowText(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassName(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

TEST_P(DialogResource, CreatedBySystem) {
    const ExpectedDialog& want = GetParam();
    HWND dialog =
        CreateDialogParamA(GetModuleHandleA(nullptr), want.name, nullptr, QuietDialogProc, 0);
    ASSERT_NE(dialog, nullptr) << want.name << ": error " << GetLastError();

    EXPECT_EQ(WindowText(dialog), want.caption);
    const uint32_t frameBits = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    EXPECT_EQ(static_cast<uint32_t>(GetWindowLongA(dialog, GWL_STYLE)) & frameBits,
              want.style & frameBits);

    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    if (want.face) {
        LOGFONTA logical = {};
        ASSERT_NE(font, nullptr);
        ASSERT_NE(GetObjectA(font, sizeof logical, &logical), 0);
        EXPECT_STREQ(logical.lfFaceName, want.face);
    } else {
        EXPECT_EQ(font, nullptr) << "the serial dialog uses the system font";
    }

    // Children in creation order, which is also the tab order.
    std::vector<HWND> children;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        children.push_back(c);
    }
    ASSERT_EQ(children.size(), want.controls.size());
    for (size_t i = 0; i < children.size(); ++i) {
        const ExpectedControl& w = want.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(w.id) + ")");
        EXPECT_EQ(static_cast<uint32_t>(GetDlgCtrlID(children[i])), w.id);
        EXPECT_EQ(ClassName(children[i]), w.className);
        if (std::string(w.className) != "ComboBox") {
            EXPECT_EQ(WindowText(children[i]), w.text);
        }
        uint32_t style = static_cast<uint32_t>(GetWindowLongA(children[i], GWL_STYLE));
        uint32_t wanted = w.style;
        // A combo box hands its scroll bar to the list it drops down and
        // drops WS_VSCROLL from its own window style.
        if (std::string(w.className) == "ComboBox") wanted &= ~uint32_t{WS_VSCROLL};
        EXPECT_EQ(style & wanted, wanted) << std::hex << style;
    }
    DestroyWindow(dialog);
}

INSTANTIATE_TEST_SUITE_P(AllDialogs, DialogResource, ::testing::ValuesIn(Dialogs()),
                         [](const ::testing::TestParamInfo<ExpectedDialog>& info) {
                             return std::string(info.param.name);
                         });

// The names the shell passes to the resource loader are the names stored.
TEST(DialogResourceNames, HeaderNamesFindEveryTemplate) {
    const char* names[] = {RES_DLG_PROGRAM_APPLICATION, RES_DLG_PROGRAM_BOOTLOADER,
                           RES_DLG_ERASE_DEFAULT,       RES_DLG_ERASE_ALL,
                           RES_DLG_PROGRAMMING_SETUP,   RES_DLG_SERIAL_SETUP};
    for (const char* name : names) {
        EXPECT_NE(FindResourceA(GetModuleHandleA(nullptr), name, MAKEINTRESOURCEA(5)), nullptr)
            << name;
    }
}

// A truncated template must be refused, not read past its end.
TEST(DialogTemplateReader, RefusesTruncatedTemplates) {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(self, "flashsetupDB", MAKEINTRESOURCEA(5));
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(self, found)));
    DWORD size = SizeofResource(self, found);
    ASSERT_TRUE(ParseDialogTemplate(bytes, size).has_value());
    for (DWORD cut : {DWORD{0}, DWORD{10}, size / 2, size - 1}) {
        std::vector<uint8_t> shortened(bytes, bytes + cut);
        EXPECT_FALSE(ParseDialogTemplate(shortened.data(), shortened.size()).has_value())
            << "cut at " << cut;
    }
}

}  // namespace
}  // namespace farsend::app::win32::test

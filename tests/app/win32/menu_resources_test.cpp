// The menu and accelerator table "main_menu" as the program's module holds
// them: every item in its place with its text and command, every accelerator,
// and the agreement between the two.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "resources/resource_ids.h"

namespace {

struct MenuRow {
    int popup;         // position on the menu bar
    int position;      // position inside the pop-up
    UINT id;           // 0 for a separator
    const char* text;  // nullptr for a separator
};

const char* const kPopupTexts[] = {"Commands", "Setup", "Help"};

// Program Target, Exit, Auto Program Target and Programming Setup keep their
// long-standing texts; the other items make the message-only commands
// reachable.
const MenuRow kMenu[] = {
    {0, 0, 659, "&Program Target\tCtrl+P"},
    {0, 1, 612, "&Erase Target Flash"},
    {0, 2, 613, "&Launch Target Application"},
    {0, 3, 614, "&Connect to Target"},
    {0, 4, 0, nullptr},
    {0, 5, 615, "E&xit"},
    {1, 0, 622, "&Auto Program Target\tCtrl+A"},
    {1, 1, 621, "Programming &Setup\tCtrl+S"},
    {1, 2, 620, "&COM Port..."},
    {2, 0, 630, "&Help Topics\tF1"},
    {2, 1, 0, nullptr},
    {2, 2, 640, "&About Farsend Flasher"},
};

struct ItemInfo {
    UINT type = 0;
    UINT state = 0;
    UINT id = 0;
    HMENU submenu = nullptr;
    std::string text;
};

ItemInfo ReadItem(HMENU menu, int position) {
    char buffer[128] = {};
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = buffer;
    info.cch = sizeof buffer;
    ItemInfo out;
    if (!GetMenuItemInfoA(menu, position, TRUE, &info)) {
        ADD_FAILURE() << "no menu item at position " << position;
        return out;
    }
    out.type = info.fType;
    out.state = info.fState;
    out.id = info.wID;
    out.submenu = info.hSubMenu;
    out.text = buffer;
    return out;
}

class MainMenu : public ::testing::Test {
protected:
    void SetUp() override {
        menu_ = LoadMenuA(GetModuleHandleA(nullptr), RES_MAIN_MENU);
        ASSERT_NE(menu_, nullptr) << "menu " << RES_MAIN_MENU << " not in the module";
    }
    void TearDown() override {
        if (menu_) DestroyMenu(menu_);
    }

    HMENU Popup(int position) { return GetSubMenu(menu_, position); }

    HMENU menu_ = nullptr;
};

TEST_F(MainMenu, BarHoldsThePopupsInOrder) {
    ASSERT_EQ(GetMenuItemCount(menu_), 3);
    for (int i = 0; i < 3; ++i) {
        ItemInfo bar = ReadItem(menu_, i);
        EXPECT_EQ(bar.text, kPopupTexts[i]) << "pop-up " << i;
        EXPECT_NE(bar.submenu, nullptr) << "pop-up " << i;
    }
}

TEST_F(MainMenu, EveryItemInPlaceWithTextAndCommand) {
    std::map<int, int> itemsPerPopup;
    for (const MenuRow& row : kMenu) {
        SCOPED_TRACE(std::string(kPopupTexts[row.popup]) + " item " + std::to_string(row.position));
        ++itemsPerPopup[row.popup];
        HMENU popup = Popup(row.popup);
        ASSERT_NE(popup, nullptr);
        ItemInfo item = ReadItem(popup, row.position);
        if (row.text == nullptr) {
            EXPECT_TRUE(item.type & MFT_SEPARATOR);
            continue;
        }
        EXPECT_FALSE(item.type & MFT_SEPARATOR);
        EXPECT_EQ(item.text, row.text);
        EXPECT_EQ(item.id, row.id);
        EXPECT_EQ(item.submenu, nullptr);
        // Nothing greyed and no check mark in the resource: the window sets
        // the mark of 622 from the auto-program flag when it opens.
        EXPECT_EQ(item.state & (MFS_GRAYED | MFS_CHECKED), 0u);
    }
    for (const auto& [popup, count] : itemsPerPopup) {
        EXPECT_EQ(GetMenuItemCount(Popup(popup)), count) << kPopupTexts[popup];
    }
}

TEST_F(MainMenu, EveryOperatorCommandIsReachable) {
    const UINT operatorCommands[] = {612, 613, 614, 615, 620, 621, 622, 630, 640, 659};
    for (UINT id : operatorCommands) {
        char text[128] = {};
        EXPECT_GT(GetMenuStringA(menu_, id, text, sizeof text, MF_BYCOMMAND), 0)
            << "command " << id << " has no menu item";
    }
    // Commands that only threads send have no business on the menu.
    const UINT threadCommands[] = {610, 650, 660, 680};
    for (UINT id : threadCommands) {
        EXPECT_EQ(GetMenuState(menu_, id, MF_BYCOMMAND), static_cast<UINT>(-1))
            << "command " << id << " must not be on the menu";
    }
}

TEST_F(MainMenu, AccessKeysAreUniqueInEachPopup) {
    for (int p = 0; p < GetMenuItemCount(menu_); ++p) {
        HMENU popup = Popup(p);
        std::set<char> keys;
        for (int i = 0; i < GetMenuItemCount(popup); ++i) {
            ItemInfo item = ReadItem(popup, i);
            if (item.type & MFT_SEPARATOR) continue;
            size_t amp = item.text.find('&');
            ASSERT_NE(amp, std::string::npos) << item.text << " has no access key";
            ASSERT_LT(amp + 1, item.text.size());
            char key =
                static_cast<char>(std::tolower(static_cast<unsigned char>(item.text[amp + 1])));
            EXPECT_TRUE(keys.insert(key).second)
                << "access key '" << key << "' used twice in " << kPopupTexts[p];
        }
    }
}

struct AccelRow {
    BYTE flags;
    WORD key;
    WORD command;
};

const AccelRow kAccelerators[] = {
    {FVIRTKEY | FCONTROL, 'P', 659},
    {FVIRTKEY | FCONTROL, 'X', 615},
    {FVIRTKEY | FCONTROL, 'A', 622},
    {FVIRTKEY | FCONTROL, 'S', 621},
};

std::vector<ACCEL> LoadAccelerators() {
    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), RES_MAIN_MENU);
    if (!table) return {};
    std::vector<ACCEL> entries(CopyAcceleratorTableA(table, nullptr, 0));
    CopyAcceleratorTableA(table, entries.data(), static_cast<int>(entries.size()));
    DestroyAcceleratorTable(table);
    return entries;
}

TEST(MainMenuAccelerators, TableMatchesEntryByEntry) {
    std::vector<ACCEL> entries = LoadAccelerators();
    ASSERT_EQ(entries.size(), std::size(kAccelerators));
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(entries[i].fVirt, kAccelerators[i].flags);
        EXPECT_EQ(entries[i].key, kAccelerators[i].key);
        EXPECT_EQ(entries[i].cmd, kAccelerators[i].command);
    }
}

// A hint such as "\tCtrl+P" promises a key; the table must keep that promise
// for the same command.
TEST_F(MainMenu, EveryCtrlHintHasItsAccelerator) {
    std::vector<ACCEL> entries = LoadAccelerators();
    int hints = 0;
    for (int p = 0; p < GetMenuItemCount(menu_); ++p) {
        HMENU popup = Popup(p);
        for (int i = 0; i < GetMenuItemCount(popup); ++i) {
            ItemInfo item = ReadItem(popup, i);
            size_t tab = item.text.find('\t');
            if (tab == std::string::npos) continue;
            std::string hint = item.text.substr(tab + 1);
            if (hint.rfind("Ctrl+", 0) != 0) {
                // F1 reaches help through WM_HELP, not through the table.
                EXPECT_EQ(hint, "F1");
                EXPECT_EQ(item.id, 630u);
                continue;
            }
            ++hints;
            ASSERT_EQ(hint.size(), 6u) << hint;
            bool found = false;
            for (const ACCEL& a : entries) {
                found |= a.key == static_cast<WORD>(hint[5]) && a.cmd == item.id &&
                         a.fVirt == (FVIRTKEY | FCONTROL);
            }
            EXPECT_TRUE(found) << item.text << " has no matching accelerator";
        }
    }
    EXPECT_EQ(hints, 3);
}

}  // namespace

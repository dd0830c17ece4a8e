// kestrix.exe's windows as the program makes them: each item of templates 102, 132, 133 and 134
// sits at MapDialogRect of its template rectangle, and the main window carries menu 131 and the
// About item in its system menu.
#include <windows.h>

#include <commctrl.h>

#include "connect_dlg.h"
#include "kestrix_dlg.h"
#include "set_cap_path_dlg.h"
#include "win_test.h"

namespace {

using kestrix::DialogTemplate;

// Items in template order; a bitmap static takes its bitmap's size, so only its place counts.
void CheckItems(HWND dialog, const DialogTemplate& layout) {
    EXPECT_TRUE(dialog != nullptr);
    HWND item = GetWindow(dialog, GW_CHILD);
    for (const kestrix::ControlTemplate& t : layout.controls) {
        if (!item) {
            ADD_FAILURE() << "template " + std::to_string(layout.id) + " has too few items";
            return;
        }
        RECT expected{t.x, t.y, t.cx, t.cy};
        MapDialogRect(dialog, &expected);
        RECT actual;
        GetWindowRect(item, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        const bool image = t.kind == kestrix::ControlKind::Static &&
                           (GetWindowLongPtrW(item, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
        const std::string where = "template " + std::to_string(layout.id) + " item " +
                                  std::to_string(t.id) + " (" + t.text + ")";
        if (t.id != -1 && GetDlgCtrlID(item) != t.id)
            ADD_FAILURE() << where + ": wrong ID";
        if (actual.left != expected.left || actual.top != expected.top)
            ADD_FAILURE() << where + ": wrong place";
        if (!image && (actual.right - actual.left != expected.right ||
                       actual.bottom - actual.top != expected.bottom))
            ADD_FAILURE() << where + ": wrong size";
        item = GetWindow(item, GW_HWNDNEXT);
    }
}

TEST(KestrixGeometry, MainWindowAndPanelItemsSitAtTheirDialogUnits) {
    CKestrixDlg window;
    const HWND main = window.Create(nullptr);
    CheckItems(main, kestrix::kTemplate102);
    CheckItems(window.DisplayPanel()->Handle(), kestrix::kTemplate134);

    // The client area is the template's size; the menu bar lies above it.
    RECT client;
    GetClientRect(main, &client);
    RECT expected{0, 0, kestrix::kTemplate102.cx, kestrix::kTemplate102.cy};
    MapDialogRect(main, &expected);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);

    const HMENU menu = GetMenu(main);
    EXPECT_EQ(GetMenuItemCount(menu), 2);
    const HMENU camera = GetSubMenu(menu, 0);
    EXPECT_EQ(GetMenuItemID(camera, 0), kestrix::ID_CAMERA_CONNECT);
    EXPECT_EQ(GetMenuItemID(camera, 1), kestrix::ID_CAMERA_DISCONNECT);
    EXPECT_EQ(GetMenuItemID(camera, 3), kestrix::ID_CAMERA_EXIT);
    EXPECT_EQ(GetMenuItemID(GetSubMenu(menu, 1), 0), kestrix::ID_SETTING_RAWDATAPATH);
    const HMENU system = GetSystemMenu(main, FALSE);
    EXPECT_EQ(GetMenuItemID(system, GetMenuItemCount(system) - 1), kestrix::IDM_ABOUTBOX);

    wchar_t tab[32] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = tab;
    item.cchTextMax = 32;
    TabCtrl_GetItem(GetDlgItem(main, kestrix::IDC_TAB), 0, &item);
    EXPECT_TRUE(std::wstring(tab) == L"Display");
}

TEST(KestrixGeometry, ConnectAndStoragePathItemsSitAtTheirDialogUnits) {
    CConnectDlg connect(nullptr);
    CheckItems(connect.Create(nullptr), kestrix::kTemplate133);
    CSetCapPathDlg storage(nullptr);
    CheckItems(storage.Create(nullptr), kestrix::kTemplate132);
}

}  // namespace

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return wt::RunAll(argc, argv);
}

// The storage path dialog in Win32.
#include "set_cap_path_dlg.h"

#include <shlobj.h>

using namespace kestrix;

namespace {

// Opens the browser at the folder whose path `data` points to.
int CALLBACK StartAt(HWND browser, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

}  // namespace

INT_PTR CSetCapPathDlg::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            SetFocus(GetDlgItem(m_hWnd, IDC_STORAGE_PATH));
            return FALSE;  // the focus is set
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_BROWSE:
                    if (HIWORD(wParam) == BN_CLICKED) OnBrowse();
                    break;
                case IDOK:
                case IDCANCEL:
                    ::EndDialog(m_hWnd, LOWORD(wParam));
                    break;
                default:
                    break;
            }
            return TRUE;
        default:
            return FALSE;
    }
}

std::optional<std::string> CSetCapPathDlg::BrowseForFolder(const std::string& title,
                                                           const std::string& start) {
    const std::wstring wideTitle = Utf8ToWide(title);
    const std::wstring wideStart = Utf8ToWide(start);
    wchar_t name[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = m_hWnd;
    info.pszDisplayName = name;
    info.lpszTitle = wideTitle.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = &StartAt;
    info.lParam = reinterpret_cast<LPARAM>(wideStart.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen) return std::nullopt;
    wchar_t path[MAX_PATH] = {};
    const bool isFolder = SHGetPathFromIDListW(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    return isFolder ? WideToUtf8(path) : std::string();
}

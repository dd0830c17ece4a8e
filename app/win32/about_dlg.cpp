// The About box in Win32.
#include "about_dlg.h"

using namespace kestrix;

INT_PTR CAboutDlg::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            MakeImageStatic(m_hWnd, IDC_ABOUT_ICON, SS_ICON);
            const HICON icon =
                LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
            SendDlgItemMessageW(m_hWnd, IDC_ABOUT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(icon),
                                0);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(m_hWnd, LOWORD(wParam));
            }
            return TRUE;
        default:
            return FALSE;
    }
}

// The connection dialog in Win32.
#include "connect_dlg.h"

INT_PTR CConnectDlg::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            return TRUE;  // the first tab stop takes the focus
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                OnOK();
            } else if (LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(m_hWnd, IDCANCEL);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

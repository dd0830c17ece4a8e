// The display panel in Win32.
#include "display_dlg.h"

#include <windowsx.h>

using namespace kestrix;

CDisplayDlg::CDisplayDlg(KestrixLogic* mainDlg)
    : Win32Dialog(kTemplate134, kChildPageStyle, mainDlg) {}

CDisplayDlg::~CDisplayDlg() {
    if (m_hWnd) DestroyWindow(m_hWnd);
    for (HBITMAP bitmap : m_bitmaps) {
        if (bitmap) DeleteObject(bitmap);
    }
    if (m_hLiveViewBrush) DeleteObject(m_hLiveViewBrush);
}

HWND CDisplayDlg::LiveViewWindow() const {
    return GetDlgItem(m_hWnd, IDC_LIVE_VIEW);
}

INT_PTR CDisplayDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const HINSTANCE instance = GetModuleHandleW(nullptr);
            for (int i = 0; i < 4; ++i) {
                m_bitmaps[i] = static_cast<HBITMAP>(LoadImageW(
                    instance, MAKEINTRESOURCEW(IDB_FOCUS_MINUS + i), IMAGE_BITMAP, 0, 0, 0));
            }
            MakeImageStatic(m_hWnd, IDC_FOCUS_PLUS, SS_BITMAP);
            MakeImageStatic(m_hWnd, IDC_FOCUS_MINUS, SS_BITMAP);
            m_hLiveViewBrush = CreateSolidBrush(RGB(kLiveViewGrey, kLiveViewGrey, kLiveViewGrey));
            OnInitDialog();
            return TRUE;
        }
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_TIMER:
            OnTimer(static_cast<int>(wParam));
            return TRUE;
        case WM_LBUTTONDOWN:
            OnLButtonDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            return TRUE;
        case WM_LBUTTONUP:
            OnLButtonUp();
            return TRUE;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) == LiveViewWindow()) {
                return reinterpret_cast<INT_PTR>(m_hLiveViewBrush);
            }
            return FALSE;
        case WM_DESTROY:
            SetWindowTimer(kRecordTimerId, 0);
            CaptureMouse(false);
            return TRUE;
        default:
            return FALSE;
    }
}

void CDisplayDlg::OnCommand(int id, int code) {
    // Enter and Escape on the page do nothing: the page never ends.
    if (code != BN_CLICKED || id == IDOK || id == IDCANCEL) return;
    switch (id) {
        case IDC_VIDEO_RECORD:
            OnBnClickedVideoRecord();
            break;
        case IDC_SNAP_CAP:
            OnBnClickedSnapCap();
            break;
        case IDC_HIGH_TO_LOW:
            OnBnClickedHighToLow();
            break;
        case IDC_CENTER_AND_TEMP:
            OnBnClickedCenterAndTemp();
            break;
        case IDC_AGC_LINE:
            OnBnClickedLine();
            break;
        case IDC_AGC_HISTEQ:
            OnBnClickedHisteq();
            break;
        case IDC_AGC_SPECIAL:
            OnBnClickedSpecial();
            break;
        default:
            break;
    }
}

// --- hooks of the logic --------------------------------------------------------------------------

void CDisplayDlg::SetWindowTimer(int id, int milliseconds) {
    if (milliseconds > 0) {
        SetTimer(m_hWnd, static_cast<UINT_PTR>(id), static_cast<UINT>(milliseconds), nullptr);
    } else {
        KillTimer(m_hWnd, static_cast<UINT_PTR>(id));
    }
}

void CDisplayDlg::CaptureMouse(bool on) {
    if (on) {
        SetCapture(m_hWnd);
    } else if (GetCapture() == m_hWnd) {
        ReleaseCapture();
    }
}

void CDisplayDlg::ShowBitmap(int id, int bitmapId) {
    const int index = bitmapId - IDB_FOCUS_MINUS;
    if (index < 0 || index >= 4) return;
    // A bitmap static takes the size of its bitmap.
    SendDlgItemMessageW(m_hWnd, id, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(m_bitmaps[index]));
}

bool CDisplayDlg::HitsControl(int id, int x, int y) const {
    RECT rect;
    const HWND item = GetDlgItem(m_hWnd, id);
    if (!item || !GetWindowRect(item, &rect)) return false;
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    return PtInRect(&rect, POINT{x, y}) != FALSE;
}

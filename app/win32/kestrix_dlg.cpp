// The main window in Win32: template 102, menu 131, the system menu and the posted tasks.
#include "kestrix_dlg.h"

#include <commctrl.h>

#include "about_dlg.h"
#include "connect_dlg.h"
#include "set_cap_path_dlg.h"

using namespace kestrix;

namespace {

// A posted task: lParam holds a heap std::function that the window runs and frees.
constexpr UINT kRunTaskMessage = WM_APP + 1;

constexpr DWORD kMainWindowStyle = DS_SETFONT | DS_FIXEDSYS | DS_MODALFRAME | DS_CENTER | WS_POPUP |
                                   WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

}  // namespace

CKestrixDlg::CKestrixDlg() : Win32Dialog(kTemplate102, kMainWindowStyle) {}

CKestrixDlg::~CKestrixDlg() {
    OnClose();
    if (m_hWnd) DestroyWindow(m_hWnd);
    if (m_hIcon) DestroyIcon(m_hIcon);
    if (m_hSmallIcon) DestroyIcon(m_hSmallIcon);
}

void CKestrixDlg::CreateMenuBar() {
    const HMENU bar = CreateMenu();
    for (const MenuPopup& popup : kMenu131) {
        const HMENU menu = CreatePopupMenu();
        for (const MenuItem& item : popup.items) {
            if (item.id == 0) {
                AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            } else {
                AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(item.id),
                            Utf8ToWide(item.text).c_str());
            }
        }
        AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), Utf8ToWide(popup.text).c_str());
    }
    // The template's size is the client area's: the window grows by the menu bar.
    RECT client;
    GetClientRect(m_hWnd, &client);
    SetMenu(m_hWnd, bar);
    RECT window = client;
    AdjustWindowRectEx(&window, static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_STYLE)), TRUE,
                       static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)));
    SetWindowPos(m_hWnd, nullptr, 0, 0, window.right - window.left, window.bottom - window.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CKestrixDlg::OnInitDialog() {
    m_hPostTarget.store(m_hWnd);
    CreateMenuBar();

    if (const HMENU system = GetSystemMenu(m_hWnd, FALSE)) {
        const std::wstring about = Utf8ToWide(kAboutMenuText);
        if (!about.empty()) {
            AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(system, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    m_hIcon =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    m_hSmallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                 IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));

    const HWND tab = GetDlgItem(m_hWnd, IDC_TAB);
    std::wstring display = L"Display";
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = display.data();
    TabCtrl_InsertItem(tab, 0, &item);

    ReadStoragePathFile();

    if (!m_pDisplayDlg) m_pDisplayDlg = std::make_unique<CDisplayDlg>(this);
    const HWND panel = m_pDisplayDlg->Create(tab);
    RECT rect;
    GetClientRect(tab, &rect);
    SetWindowPos(panel, HWND_TOP, rect.left + 10, rect.top + 30, rect.right - rect.left - 20,
                 rect.bottom - rect.top - 40, SWP_SHOWWINDOW);
    SetLiveWindow(reinterpret_cast<uint64_t>(m_pDisplayDlg->LiveViewWindow()));
    return true;
}

INT_PTR CKestrixDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog() ? TRUE : FALSE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return FALSE;
            OnSysCommand(static_cast<int>(wParam));
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDOK || id == IDCANCEL) {
                // Enter and Escape in the display panel stay there; anywhere else they end the
                // window, as the close box does.
                if (m_pDisplayDlg && IsChild(m_pDisplayDlg->Handle(), GetFocus())) return TRUE;
                OnClose();
                ::EndDialog(m_hWnd, id);
            } else if (id >= ID_COMMAND_FIRST && id <= ID_COMMAND_LAST && lParam == 0) {
                OnMenuCommand(id);
            }
            return TRUE;
        }
        case WM_CLOSE:
            OnClose();
            ::EndDialog(m_hWnd, IDCANCEL);
            return TRUE;
        case kRunTaskMessage: {
            std::unique_ptr<std::function<void()>> task(
                reinterpret_cast<std::function<void()>*>(lParam));
            if (task && *task) (*task)();
            return TRUE;
        }
        case WM_DESTROY:
            OnClose();
            m_hPostTarget.store(nullptr);
            DropPendingTasks();
            return TRUE;
        default:
            return FALSE;
    }
}

void CKestrixDlg::DropPendingTasks() {
    MSG msg;
    while (PeekMessageW(&msg, m_hWnd, kRunTaskMessage, kRunTaskMessage, PM_REMOVE)) {
        delete reinterpret_cast<std::function<void()>*>(msg.lParam);
    }
}

// --- hooks of the logic --------------------------------------------------------------------------

void CKestrixDlg::Post(std::function<void()> task) {
    auto heap = std::make_unique<std::function<void()>>(std::move(task));
    const HWND target = m_hPostTarget.load();
    if (target && PostMessageW(target, kRunTaskMessage, 0, reinterpret_cast<LPARAM>(heap.get()))) {
        heap.release();
    }
}

void CKestrixDlg::ShowWaitCursor(bool on) {
    // The camera calls run on this thread, so no WM_SETCURSOR arrives while one waits: the cursor
    // is set here and the earlier one put back afterwards.
    if (on) {
        m_hCursorBeforeWait = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    } else {
        SetCursor(m_hCursorBeforeWait);
    }
}

void CKestrixDlg::RunDialog(int templateId) {
    if (templateId == kTemplate133.id) {
        CConnectDlg(this).DoModal(m_hWnd);
    } else if (templateId == kTemplate132.id) {
        CSetCapPathDlg(this).DoModal(m_hWnd);
    } else if (templateId == kTemplate100.id) {
        CAboutDlg().DoModal(m_hWnd);
    }
}

DisplayLogic* CKestrixDlg::Panel() {
    return m_pDisplayDlg.get();
}

void CKestrixDlg::DestroyPanel() {
    m_pDisplayDlg.reset();
}

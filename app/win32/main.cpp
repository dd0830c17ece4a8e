// Kestrix: the engineer's capture program for the networked thermal camera, on Windows.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "kestrix_dlg.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The folder browser needs COM on this thread; the tab control needs the common controls.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    {
        CKestrixDlg dialog;
        dialog.DoModal(nullptr);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

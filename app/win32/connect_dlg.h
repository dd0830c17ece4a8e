// CConnectDlg: the connection dialog in Win32, template 133 mapped to the connection logic.
#pragma once

#include "connect_logic.h"
#include "win32_dialog.h"

class CConnectDlg : public kestrix::Win32Dialog<kestrix::ConnectLogic> {
  public:
    // `mainDlg` may be null: the dialog then only writes the address file.
    explicit CConnectDlg(kestrix::KestrixLogic* mainDlg) : Win32Dialog(mainDlg) {}

    INT_PTR DoModal(HWND owner) {
        return RunModal(owner, kestrix::kTemplate133, kestrix::kTopLevelDialogStyle);
    }
    HWND Create(HWND owner) {
        return CreateModeless(owner, kestrix::kTemplate133, kestrix::kTopLevelDialogStyle);
    }

  protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

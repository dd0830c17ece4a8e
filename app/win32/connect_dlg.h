// CConnectDlg: the connection dialog in Win32, template 133 mapped to the connection logic.
#pragma once

#include "connect_logic.h"
#include "win32_dialog.h"

class CConnectDlg : public kestrix::Win32Dialog<kestrix::ConnectLogic> {
  public:
    // `mainDlg` may be null: the dialog then only writes the address file.
    explicit CConnectDlg(kestrix::KestrixLogic* mainDlg)
        : Win32Dialog(kestrix::kTemplate133, kestrix::kTopLevelDialogStyle, mainDlg) {}

  protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

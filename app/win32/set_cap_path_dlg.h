// CSetCapPathDlg: the storage path dialog in Win32, template 132 and the shell's folder browser
// mapped to the storage path logic. The dialog has no OK or Cancel of its own: Enter and Escape end
// it.
#pragma once

#include "set_cap_path_logic.h"
#include "win32_dialog.h"

class CSetCapPathDlg : public kestrix::Win32Dialog<kestrix::SetCapPathLogic> {
  public:
    explicit CSetCapPathDlg(kestrix::KestrixLogic* mainDlg)
        : Win32Dialog(kestrix::kTemplate132, kestrix::kTopLevelDialogStyle, mainDlg) {}

  protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    std::optional<std::string> BrowseForFolder(const std::string& title,
                                               const std::string& start) override;
};

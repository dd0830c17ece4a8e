// CAboutDlg: the About box in Win32, template 100 with the program icon.
#pragma once

#include "dialog_hooks.h"
#include "win32_dialog.h"

namespace kestrix {

// The About box has nothing to decide: its logic only ends it.
class AboutLogic : public DialogHooks {};

}  // namespace kestrix

class CAboutDlg : public kestrix::Win32Dialog<kestrix::AboutLogic> {
  public:
    CAboutDlg() : Win32Dialog(kestrix::kTemplate100, kestrix::kTopLevelDialogStyle) {}

  protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// CDisplayDlg: the display panel in Win32, template 134 as a child page mapped to the panel's
// logic: the focus faces' bitmaps, window timer 1, mouse capture, and Enter and Escape kept from
// ending the page.
#pragma once

#include "display_logic.h"
#include "win32_dialog.h"

class CDisplayDlg : public kestrix::Win32Dialog<kestrix::DisplayLogic> {
  public:
    // `mainDlg` may be null; every call to it is then skipped.
    explicit CDisplayDlg(kestrix::KestrixLogic* mainDlg);
    ~CDisplayDlg() override;

    // The live view's window, for the render library.
    HWND LiveViewWindow() const;

  protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    void SetWindowTimer(int id, int milliseconds) override;
    void CaptureMouse(bool on) override;
    void ShowBitmap(int id, int bitmapId) override;
    bool HitsControl(int id, int x, int y) const override;

  private:
    void OnCommand(int id, int code);

    HBITMAP m_bitmaps[4] = {};  // 137 to 140, from the resources
    HBRUSH m_hLiveViewBrush = nullptr;
};

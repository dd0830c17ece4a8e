// DisplayLogic: what the display panel decides, the one page of the main window's tab control. It
// carries the live view, the seven device-parameter readouts, the gain-control mode, the two option
// boxes, the press-and-hold focus faces, the record button with its period and the snapshot button
// with its count. Every action goes to the main window. The front-end derives from it, shows
// template 134 and supplies the hooks below.
#pragma once

#include <cstdint>

#include "dialog_hooks.h"

namespace kestrix {

class KestrixLogic;

class DisplayLogic : public DialogHooks {
  public:
    // `mainDlg` may be null; every call to it is then skipped.
    explicit DisplayLogic(KestrixLogic* mainDlg) : m_pMainDlg(mainDlg) {}

    // The fields' first values, the options' first states and the focus faces' released bitmaps.
    void OnInitDialog();
    void UpdateRecordButtonText();
    // Ends a held focus face as a release would: the camera gets its stop while it can still take
    // it (before a disconnect), and a message box that takes the mouse cannot leave the motor
    // running.
    void EndFocusHold();

    void OnBnClickedVideoRecord();
    void OnBnClickedSnapCap();
    void OnBnClickedHighToLow();
    void OnBnClickedCenterAndTemp();
    void OnBnClickedLine();
    void OnBnClickedHisteq();
    void OnBnClickedSpecial();
    void OnTimer(int id);
    // The left button at (x, y) in the panel's client coordinates.
    void OnLButtonDown(int x, int y);
    void OnLButtonUp();

    bool m_bHighToLow = true;
    bool m_bCenterAndTemp = true;
    bool m_bFocusPlusDown = false;
    bool m_bFocusMinusDown = false;
    KestrixLogic* m_pMainDlg;

  protected:
    // --- the front-end's hooks ------------------------------------------------------------------
    // Window timer `id` every `milliseconds` (already at least 10), replacing a running one.
    virtual void SetTimer(int id, int milliseconds) = 0;
    virtual void KillTimer(int id) = 0;
    // Mouse capture: every mouse event goes to the panel until it is released.
    virtual void SetCapture() = 0;
    virtual void ReleaseCapture() = 0;
    // Shows bitmap `bitmapId` in the static control `id`.
    virtual void ShowBitmap(int id, int bitmapId) = 0;
    // True when (x, y) lies on control `id` as it is shown.
    virtual bool HitsControl(int id, int x, int y) const = 0;
};

// The period of the record timer as the window timers take it: below 10 ms the timer runs every
// 10 ms, and a negative period, taken as unsigned, is past the longest timer there is.
int RecordTimerInterval(int32_t period);

}  // namespace kestrix

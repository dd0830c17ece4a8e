// CDisplayDlg: the display panel in Qt, template 134 mapped to the panel's logic: the focus faces'
// pixmaps, timer 1, the mouse grab, and Enter and Escape kept from ending the page.
#pragma once

#include <QPixmap>
#include <QTimer>

#include "dialog_templates.h"
#include "display_logic.h"
#include "qt_dialog.h"

class QLabel;

using kestrix::IDC_AGC_HISTEQ;
using kestrix::IDC_AGC_LINE;
using kestrix::IDC_AGC_SPECIAL;
using kestrix::IDC_CAPTURE_PERIOD;
using kestrix::IDC_CENTER_AND_TEMP;
using kestrix::IDC_FOCUS_MINUS;
using kestrix::IDC_FOCUS_PLUS;
using kestrix::IDC_HIGH_TO_LOW;
using kestrix::IDC_LIVE_VIEW;
using kestrix::IDC_SNAP_CAP;
using kestrix::IDC_SNAP_COUNT;
using kestrix::IDC_VIDEO_RECORD;
using kestrix::kFocusFarCommand;
using kestrix::kFocusNearCommand;
using kestrix::kRecordTimerId;

class CDisplayDlg : public kestrix::QtDialog<kestrix::DisplayLogic> {
    Q_OBJECT

  public:
    // `mainWindow` may be null; every call to it is then skipped.
    CDisplayDlg(kestrix::KestrixLogic* mainWindow, QWidget* parent);
    ~CDisplayDlg() override;

    bool OnInitDialog();
    // The live view's native window id, for the render library.
    uint64_t LiveViewWindow();
    // Enter and Escape on the page are dropped, so that neither ends it. True when eaten.
    bool PreTranslateMessage(QEvent* event);

    const QTimer& RecordTimer() const { return m_timerRecord; }

    QPixmap m_bmpFocusMinus;      // 137, "Focus -" released
    QPixmap m_bmpFocusPlusDown;   // 138, "Focus +" pressed
    QPixmap m_bmpFocusPlus;       // 139, "Focus +" released
    QPixmap m_bmpFocusMinusDown;  // 140, "Focus -" pressed
    QLabel* m_stFocusPlus = nullptr;
    QLabel* m_stFocusMinus = nullptr;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    void SetTimer(int id, int milliseconds) override;
    void KillTimer(int id) override;
    void SetCapture() override;
    void ReleaseCapture() override;
    void ShowBitmap(int id, int bitmapId) override;
    bool HitsControl(int id, int x, int y) const override;

  private:
    QTimer m_timerRecord;  // timer 1: one record due per period
};

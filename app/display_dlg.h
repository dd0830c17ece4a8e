// CDisplayDlg: the one page of the main window's tab control. It carries the live view, the seven
// device-parameter readouts, the gain-control mode, the two option boxes, the press-and-hold focus
// faces, the record button with its period and the snapshot button with its count. Every action
// goes to the main window.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QTimer>

class QLabel;
class CKestrixDlg;

enum : int {
    IDC_LIVE_VIEW = 1005,
    IDC_VIDEO_RECORD = 1008,
    IDC_SNAP_COUNT = 1010,
    IDC_FOCUS_PLUS = 1011,
    IDC_FOCUS_MINUS = 1012,
    IDC_SNAP_CAP = 1043,
    IDC_HIGH_TO_LOW = 1045,
    IDC_CENTER_AND_TEMP = 1046,
    IDC_CAPTURE_PERIOD = 1048,
    IDC_AGC_LINE = 1049,
    IDC_AGC_HISTEQ = 1050,
    IDC_AGC_SPECIAL = 1051,
};

constexpr int kRecordTimerId = 1;
constexpr uint32_t kFocusNearCommand = 13;  // "Focus -"
constexpr uint32_t kFocusFarCommand = 14;   // "Focus +"

class CDisplayDlg : public QDialog {
    Q_OBJECT

  public:
    // `mainWindow` may be null; every call to it is then skipped.
    CDisplayDlg(CKestrixDlg* mainWindow, QWidget* parent);
    ~CDisplayDlg() override;

    bool OnInitDialog();
    void UpdateRecordButtonText();
    // Ends a held focus face as a release would: the camera gets its stop while it can still take
    // it (before a disconnect), and a message box that takes the mouse cannot leave the motor
    // running.
    void EndFocusHold();
    void SetReadoutText(int id, const QString& text);
    // The live view's X11 window id, for the render library.
    uint64_t LiveViewWindow();

    void OnBnClickedVideoRecord();
    void OnBnClickedSnapCap();
    void OnBnClickedHighToLow();
    void OnBnClickedCenterAndTemp();
    void OnBnClickedLine();
    void OnBnClickedHisteq();
    void OnBnClickedSpecial();
    void OnTimer(int id);
    // Enter and Escape on the page are dropped, so that neither ends it. True when eaten.
    bool PreTranslateMessage(QEvent* event);

    const QTimer& RecordTimer() const { return m_timerRecord; }

    QPixmap m_bmpFocusMinus;      // 137, "Focus -" released
    QPixmap m_bmpFocusPlusDown;   // 138, "Focus +" pressed
    QPixmap m_bmpFocusPlus;       // 139, "Focus +" released
    QPixmap m_bmpFocusMinusDown;  // 140, "Focus -" pressed
    QLabel* m_stFocusPlus = nullptr;
    QLabel* m_stFocusMinus = nullptr;
    bool m_bHighToLow = true;
    bool m_bCenterAndTemp = true;
    CKestrixDlg* m_pMainDlg;
    bool m_bFocusPlusDown = false;
    bool m_bFocusMinusDown = false;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OnLButtonDown(QPoint point);
    void OnLButtonUp();

    QTimer m_timerRecord;  // timer 1: one record due per period
};

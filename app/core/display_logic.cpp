// The display panel's decisions: the focus press-and-hold, recording, snapshots and options.
#include "display_logic.h"

#include <limits>

#include "dialog_templates.h"
#include "kestrix_logic.h"

namespace kestrix {

int RecordTimerInterval(int32_t period) {
    if (period < 0) return std::numeric_limits<int>::max();
    return period < 10 ? 10 : period;
}

void DisplayLogic::OnInitDialog() {
    SetControlText(IDC_SNAP_COUNT, "1");
    SetControlText(IDC_CAPTURE_PERIOD, "1000");
    ShowBitmap(IDC_FOCUS_PLUS, IDB_FOCUS_PLUS);
    ShowBitmap(IDC_FOCUS_MINUS, IDB_FOCUS_MINUS);
    SetChecked(IDC_HIGH_TO_LOW, true);
    SetChecked(IDC_CENTER_AND_TEMP, true);
    SetChecked(IDC_AGC_LINE, true);
}

// --- focus press-and-hold ------------------------------------------------------------------------

void DisplayLogic::OnLButtonDown(int x, int y) {
    if (HitsControl(IDC_FOCUS_PLUS, x, y)) {
        m_bFocusPlusDown = true;
        ShowBitmap(IDC_FOCUS_PLUS, IDB_FOCUS_PLUS_DOWN);
        if (m_pMainDlg) m_pMainDlg->FocusControl(kFocusFarCommand, 0);
        SetCapture();
    } else if (HitsControl(IDC_FOCUS_MINUS, x, y)) {
        m_bFocusMinusDown = true;
        ShowBitmap(IDC_FOCUS_MINUS, IDB_FOCUS_MINUS_DOWN);
        if (m_pMainDlg) m_pMainDlg->FocusControl(kFocusNearCommand, 0);
        SetCapture();
    }
}

void DisplayLogic::OnLButtonUp() {
    if (m_bFocusPlusDown) {
        ReleaseCapture();
        m_bFocusPlusDown = false;
        ShowBitmap(IDC_FOCUS_PLUS, IDB_FOCUS_PLUS);
        if (m_pMainDlg) m_pMainDlg->FocusControl(kFocusFarCommand, 1);
    } else if (m_bFocusMinusDown) {
        ReleaseCapture();
        m_bFocusMinusDown = false;
        ShowBitmap(IDC_FOCUS_MINUS, IDB_FOCUS_MINUS);
        if (m_pMainDlg) m_pMainDlg->FocusControl(kFocusNearCommand, 1);
    }
}

void DisplayLogic::EndFocusHold() {
    OnLButtonUp();
}

// --- recording and snapshots ---------------------------------------------------------------------

void DisplayLogic::OnBnClickedVideoRecord() {
    if (!m_pMainDlg || m_pMainDlg->GetUserID() < 0) return;
    if (m_pMainDlg->GetRecording()) {
        m_pMainDlg->SetRecording(false);
        KillTimer(kRecordTimerId);
        EnableControl(IDC_CAPTURE_PERIOD, true);
    } else {
        m_pMainDlg->SetRecording(true);
        SetTimer(kRecordTimerId,
                 RecordTimerInterval(ParseDialogInt(ControlText(IDC_CAPTURE_PERIOD))));
        EnableControl(IDC_CAPTURE_PERIOD, false);
    }
    m_pMainDlg->SwitchRecordFile();
    if (const auto failure = m_pMainDlg->RecordFileFailure()) {
        // No file, no recording: everything goes back, the caption never says "Recording".
        m_pMainDlg->SetRecording(false);
        KillTimer(kRecordTimerId);
        EnableControl(IDC_CAPTURE_PERIOD, true);
        m_pMainDlg->SwitchRecordFile();
        ShowMessageBox("Video Record is failed... " + failure->path + " : " + failure->reason);
        return;
    }
    UpdateRecordButtonText();
}

void DisplayLogic::UpdateRecordButtonText() {
    if (!m_pMainDlg) return;
    SetControlText(IDC_VIDEO_RECORD, m_pMainDlg->GetRecording() ? "Recording" : "No Record");
}

void DisplayLogic::OnTimer(int id) {
    if (id == kRecordTimerId && m_pMainDlg) m_pMainDlg->MarkRecordDue();
}

void DisplayLogic::OnBnClickedSnapCap() {
    if (!m_pMainDlg || m_pMainDlg->GetUserID() < 0) return;
    m_pMainDlg->StartSnapshots(ParseDialogInt(ControlText(IDC_SNAP_COUNT)));
}

// --- options -------------------------------------------------------------------------------------

void DisplayLogic::OnBnClickedHighToLow() {
    m_bHighToLow = IsChecked(IDC_HIGH_TO_LOW);
    if (m_pMainDlg) m_pMainDlg->SetHighToLow(m_bHighToLow);
}

void DisplayLogic::OnBnClickedCenterAndTemp() {
    m_bCenterAndTemp = IsChecked(IDC_CENTER_AND_TEMP);
    if (m_pMainDlg) m_pMainDlg->SetCenterAndTemp(m_bCenterAndTemp);
}

void DisplayLogic::OnBnClickedLine() {
    if (m_pMainDlg) m_pMainDlg->SetAgcMode(1);
}

void DisplayLogic::OnBnClickedHisteq() {
    if (m_pMainDlg) m_pMainDlg->SetAgcMode(2);
}

void DisplayLogic::OnBnClickedSpecial() {
    if (m_pMainDlg) m_pMainDlg->SetAgcMode(3);
}

}  // namespace kestrix

// The display panel: template 134, the focus press-and-hold, recording, snapshots and options.
#include "display_dlg.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <limits>

#include "dialog_template.h"
#include "frame_format.h"
#include "kestrix_dlg.h"

using kestrix::ControlKind;
using kestrix::ControlTemplate;

namespace {

// Template 134: a child page without caption or border, MS Shell Dlg 8, 420 x 290.
constexpr ControlTemplate kControls134[] = {
    {IDC_LIVE_VIEW, ControlKind::LiveView, "", 7, 7, 280, 164},
    {1059, ControlKind::Static, "焦平面", 14, 178, 26, 8},
    {1052, ControlKind::Static, "", 47, 179, 46, 8},
    {-1, ControlKind::Static, "空腔", 100, 178, 17, 8},
    {1054, ControlKind::Static, "", 122, 178, 53, 8},
    {-1, ControlKind::Static, "PCB", 186, 178, 14, 8},
    {1056, ControlKind::Static, "", 204, 178, 63, 8},
    {-1, ControlKind::Static, "VITEC", 272, 178, 20, 8},
    {1058, ControlKind::Static, "", 298, 178, 58, 8},
    {-1, ControlKind::Static, "EOCC", 14, 195, 20, 8},
    {1053, ControlKind::Static, "", 43, 195, 50, 8},
    {-1, ControlKind::Static, "TEC", 100, 195, 14, 8},
    {1055, ControlKind::Static, "", 121, 195, 52, 8},
    {-1, ControlKind::Static, "B-value", 186, 195, 25, 8},
    {1057, ControlKind::Static, "", 214, 195, 56, 8},
    {IDC_HIGH_TO_LOW, ControlKind::CheckBox, "HightoLow", 308, 33, 49, 10},
    {-1, ControlKind::GroupBox, "AgcProcMode", 301, 61, 60, 83},
    {IDC_AGC_LINE, ControlKind::RadioButton, "Line", 308, 81, 29, 10},
    {IDC_AGC_HISTEQ, ControlKind::RadioButton, "Histeq", 308, 100, 46, 10},
    {IDC_AGC_SPECIAL, ControlKind::RadioButton, "Special", 308, 119, 47, 10},
    {-1, ControlKind::GroupBox, "Image Controller", 7, 215, 391, 61},
    {IDC_VIDEO_RECORD, ControlKind::PushButton, "Video Record", 105, 233, 63, 14},
    {IDC_SNAP_COUNT, ControlKind::Edit, "", 180, 233, 34, 14},
    {IDC_SNAP_CAP, ControlKind::PushButton, "SnapCap", 229, 233, 50, 14},
    {IDC_FOCUS_PLUS, ControlKind::Static, "Focus +", 300, 223, 27, 8},
    {IDC_FOCUS_MINUS, ControlKind::Static, "Focus -", 302, 241, 27, 8},
    {IDC_CENTER_AND_TEMP, ControlKind::CheckBox, "CenterAndTemp", 26, 236, 68, 10},
    {-1, ControlKind::Static, "CaptureFrequence(ms)", 17, 256, 76, 14},
    {IDC_CAPTURE_PERIOD, ControlKind::Edit, "", 109, 254, 46, 14},
};
constexpr kestrix::DialogTemplate kTemplate134{134, "", 8, 420, 290, kControls134};

// The live view's background, behind the picture.
const QColor kLiveViewColour(190, 190, 190);

// Timer periods as the window timers take them: below 10 ms the timer runs every 10 ms, and a
// negative period, taken as unsigned, is past the longest timer there is.
int RecordTimerInterval(int32_t period) {
    if (period < 0) return std::numeric_limits<int>::max();
    return period < 10 ? 10 : period;
}

}  // namespace

CDisplayDlg::CDisplayDlg(CKestrixDlg* mainWindow, QWidget* parent)
    : QDialog(parent), m_pMainDlg(mainWindow) {
    setWindowFlags(Qt::Widget);
    m_timerRecord.setObjectName(QStringLiteral("timer%1").arg(kRecordTimerId));
    connect(&m_timerRecord, &QTimer::timeout, this, [this] { OnTimer(kRecordTimerId); });
    OnInitDialog();
}

CDisplayDlg::~CDisplayDlg() {
    if (QWidget::mouseGrabber() == this) releaseMouse();
}

bool CDisplayDlg::OnInitDialog() {
    const kestrix::DialogUnits units(kestrix::DialogFont(kTemplate134.pointSize));
    setFont(kestrix::DialogFont(kTemplate134.pointSize));
    resize(units.ToPixelsX(kTemplate134.cx), units.ToPixelsY(kTemplate134.cy));
    kestrix::CreateControls(this, kTemplate134);

    kestrix::Control<QLineEdit>(this, IDC_SNAP_COUNT)->setText(QString::number(1));
    kestrix::Control<QLineEdit>(this, IDC_CAPTURE_PERIOD)->setText(QString::number(1000));

    m_bmpFocusMinus = QPixmap(QStringLiteral(":/kestrix/focus137.png"));
    m_bmpFocusPlusDown = QPixmap(QStringLiteral(":/kestrix/focus138.png"));
    m_bmpFocusPlus = QPixmap(QStringLiteral(":/kestrix/focus139.png"));
    m_bmpFocusMinusDown = QPixmap(QStringLiteral(":/kestrix/focus140.png"));

    m_stFocusPlus = kestrix::Control<QLabel>(this, IDC_FOCUS_PLUS);
    m_stFocusMinus = kestrix::Control<QLabel>(this, IDC_FOCUS_MINUS);
    // A bitmap static takes the size of its bitmap.
    m_stFocusPlus->setPixmap(m_bmpFocusPlus);
    m_stFocusPlus->resize(m_bmpFocusPlus.size());
    m_stFocusMinus->setPixmap(m_bmpFocusMinus);
    m_stFocusMinus->resize(m_bmpFocusMinus.size());

    kestrix::Control<QCheckBox>(this, IDC_HIGH_TO_LOW)->setChecked(true);
    kestrix::Control<QCheckBox>(this, IDC_CENTER_AND_TEMP)->setChecked(true);
    kestrix::Control<QRadioButton>(this, IDC_AGC_LINE)->setChecked(true);

    // The dialog face has a blank glyph for the degree sign of the temperatures: the readouts take
    // their characters from a face that draws it, and anything else from the dialog face.
    QFont readoutFont = font();
    readoutFont.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
    for (int id : kestrix::kReadoutControlIds)
        kestrix::Control<QLabel>(this, id)->setFont(readoutFont);

    QWidget* live = kestrix::Control<QWidget>(this, IDC_LIVE_VIEW);
    live->setAutoFillBackground(true);
    QPalette palette = live->palette();
    palette.setColor(QPalette::Window, kLiveViewColour);
    live->setPalette(palette);

    auto onClick = [this](int id, void (CDisplayDlg::*handler)()) {
        auto* button = kestrix::Control<QAbstractButton>(this, id);
        connect(button, &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    onClick(IDC_VIDEO_RECORD, &CDisplayDlg::OnBnClickedVideoRecord);
    onClick(IDC_SNAP_CAP, &CDisplayDlg::OnBnClickedSnapCap);
    onClick(IDC_HIGH_TO_LOW, &CDisplayDlg::OnBnClickedHighToLow);
    onClick(IDC_CENTER_AND_TEMP, &CDisplayDlg::OnBnClickedCenterAndTemp);
    onClick(IDC_AGC_LINE, &CDisplayDlg::OnBnClickedLine);
    onClick(IDC_AGC_HISTEQ, &CDisplayDlg::OnBnClickedHisteq);
    onClick(IDC_AGC_SPECIAL, &CDisplayDlg::OnBnClickedSpecial);

    // Buttons on the page do not take Enter: it is dropped like everywhere else on the page.
    for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);
    for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
    return true;
}

uint64_t CDisplayDlg::LiveViewWindow() {
    QWidget* live = kestrix::Control<QWidget>(this, IDC_LIVE_VIEW);
    return live ? static_cast<uint64_t>(live->winId()) : 0;
}

void CDisplayDlg::SetReadoutText(int id, const QString& text) {
    if (auto* label = kestrix::Control<QLabel>(this, id)) label->setText(text);
}

bool CDisplayDlg::PreTranslateMessage(QEvent* event) {
    if (!event || event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    return false;
}

bool CDisplayDlg::eventFilter(QObject* watched, QEvent* event) {
    if (PreTranslateMessage(event)) return true;
    return QDialog::eventFilter(watched, event);
}

void CDisplayDlg::keyPressEvent(QKeyEvent* event) {
    if (!PreTranslateMessage(event)) QDialog::keyPressEvent(event);
}

// --- focus press-and-hold -----------------------------------------------------------------------

void CDisplayDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) OnLButtonDown(event->position().toPoint());
    QDialog::mousePressEvent(event);
}

void CDisplayDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) OnLButtonUp();
    QDialog::mouseReleaseEvent(event);
}

void CDisplayDlg::OnLButtonDown(QPoint point) {
    if (m_stFocusPlus->geometry().contains(point)) {
        m_bFocusPlusDown = true;
        m_stFocusPlus->setPixmap(m_bmpFocusPlusDown);
        if (m_pMainDlg) m_pMainDlg->FocusControl(kFocusFarCommand, 0);
        grabMouse();
    } else if (m_stFocusMinus->geometry().contains(point)) {
        m_bFocusMinusDown = true;
        m_stFocusMinus->setPixmap(m_bmpFocusMinusDown);
        if (m_pMainDlg) m_pMainDlg->FocusControl(kFocusNearCommand, 0);
        grabMouse();
    }
}

void CDisplayDlg::OnLButtonUp() {
    if (m_bFocusPlusDown) {
        releaseMouse();
        m_bFocusPlusDown = false;
        m_stFocusPlus->setPixmap(m_bmpFocusPlus);
        if (m_pMainDlg) m_pMainDlg->FocusControl(kFocusFarCommand, 1);
    } else if (m_bFocusMinusDown) {
        releaseMouse();
        m_bFocusMinusDown = false;
        m_stFocusMinus->setPixmap(m_bmpFocusMinus);
        if (m_pMainDlg) m_pMainDlg->FocusControl(kFocusNearCommand, 1);
    }
}

void CDisplayDlg::EndFocusHold() {
    OnLButtonUp();
}

// --- recording and snapshots --------------------------------------------------------------------

void CDisplayDlg::OnBnClickedVideoRecord() {
    if (!m_pMainDlg || m_pMainDlg->GetUserID() < 0) return;
    auto* period = kestrix::Control<QLineEdit>(this, IDC_CAPTURE_PERIOD);
    if (m_pMainDlg->GetRecording()) {
        m_pMainDlg->SetRecording(false);
        m_timerRecord.stop();
        period->setEnabled(true);
    } else {
        m_pMainDlg->SetRecording(true);
        m_timerRecord.start(RecordTimerInterval(kestrix::ParseDialogInt(period->text())));
        period->setEnabled(false);
    }
    m_pMainDlg->SwitchRecordFile();
    UpdateRecordButtonText();
}

void CDisplayDlg::UpdateRecordButtonText() {
    if (!m_pMainDlg) return;
    kestrix::Control<QPushButton>(this, IDC_VIDEO_RECORD)
        ->setText(m_pMainDlg->GetRecording() ? QStringLiteral("Recording")
                                             : QStringLiteral("No Record"));
}

void CDisplayDlg::OnTimer(int id) {
    if (id == kRecordTimerId && m_pMainDlg) m_pMainDlg->MarkRecordDue();
}

void CDisplayDlg::OnBnClickedSnapCap() {
    if (!m_pMainDlg || m_pMainDlg->GetUserID() < 0) return;
    m_pMainDlg->StartSnapshots(
        kestrix::ParseDialogInt(kestrix::Control<QLineEdit>(this, IDC_SNAP_COUNT)->text()));
}

// --- options ------------------------------------------------------------------------------------

void CDisplayDlg::OnBnClickedHighToLow() {
    m_bHighToLow = kestrix::Control<QCheckBox>(this, IDC_HIGH_TO_LOW)->isChecked();
    if (m_pMainDlg) m_pMainDlg->SetHighToLow(m_bHighToLow);
}

void CDisplayDlg::OnBnClickedCenterAndTemp() {
    m_bCenterAndTemp = kestrix::Control<QCheckBox>(this, IDC_CENTER_AND_TEMP)->isChecked();
    if (m_pMainDlg) m_pMainDlg->SetCenterAndTemp(m_bCenterAndTemp);
}

void CDisplayDlg::OnBnClickedLine() {
    if (m_pMainDlg) m_pMainDlg->SetAgcMode(1);
}

void CDisplayDlg::OnBnClickedHisteq() {
    if (m_pMainDlg) m_pMainDlg->SetAgcMode(2);
}

void CDisplayDlg::OnBnClickedSpecial() {
    if (m_pMainDlg) m_pMainDlg->SetAgcMode(3);
}

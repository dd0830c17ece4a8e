// The display panel in Qt.
#include "display_dlg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "frame_format.h"

CDisplayDlg::CDisplayDlg(kestrix::KestrixLogic* mainWindow, QWidget* parent)
    : QtDialog(parent, mainWindow) {
    setWindowFlags(Qt::Widget);
    m_timerRecord.setObjectName(QStringLiteral("timer%1").arg(kRecordTimerId));
    connect(&m_timerRecord, &QTimer::timeout, this, [this] { OnTimer(kRecordTimerId); });
    OnInitDialog();
}

CDisplayDlg::~CDisplayDlg() {
    if (QWidget::mouseGrabber() == this) releaseMouse();
}

bool CDisplayDlg::OnInitDialog() {
    const kestrix::DialogTemplate& dialog = kestrix::kTemplate134;
    const kestrix::DialogUnits units(kestrix::DialogFont(dialog.pointSize));
    setFont(kestrix::DialogFont(dialog.pointSize));
    resize(units.ToPixelsX(dialog.cx), units.ToPixelsY(dialog.cy));
    kestrix::CreateControls(this, dialog);

    m_bmpFocusMinus = QPixmap(QStringLiteral(":/kestrix/focus137.png"));
    m_bmpFocusPlusDown = QPixmap(QStringLiteral(":/kestrix/focus138.png"));
    m_bmpFocusPlus = QPixmap(QStringLiteral(":/kestrix/focus139.png"));
    m_bmpFocusMinusDown = QPixmap(QStringLiteral(":/kestrix/focus140.png"));
    m_stFocusPlus = kestrix::Control<QLabel>(this, IDC_FOCUS_PLUS);
    m_stFocusMinus = kestrix::Control<QLabel>(this, IDC_FOCUS_MINUS);
    DisplayLogic::OnInitDialog();

    // The dialog face has a blank glyph for the degree sign of the temperatures: the readouts take
    // their characters from a face that draws it, and anything else from the dialog face.
    QFont readoutFont = font();
    readoutFont.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
    for (int id : kestrix::kReadoutControlIds)
        kestrix::Control<QLabel>(this, id)->setFont(readoutFont);

    QWidget* live = kestrix::Control<QWidget>(this, IDC_LIVE_VIEW);
    live->setAutoFillBackground(true);
    QPalette palette = live->palette();
    const int grey = kestrix::kLiveViewGrey;
    palette.setColor(QPalette::Window, QColor(grey, grey, grey));
    live->setPalette(palette);

    auto onClick = [this](int id, void (DisplayLogic::*handler)()) {
        auto* button = kestrix::Control<QAbstractButton>(this, id);
        connect(button, &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    onClick(IDC_VIDEO_RECORD, &DisplayLogic::OnBnClickedVideoRecord);
    onClick(IDC_SNAP_CAP, &DisplayLogic::OnBnClickedSnapCap);
    onClick(IDC_HIGH_TO_LOW, &DisplayLogic::OnBnClickedHighToLow);
    onClick(IDC_CENTER_AND_TEMP, &DisplayLogic::OnBnClickedCenterAndTemp);
    onClick(IDC_AGC_LINE, &DisplayLogic::OnBnClickedLine);
    onClick(IDC_AGC_HISTEQ, &DisplayLogic::OnBnClickedHisteq);
    onClick(IDC_AGC_SPECIAL, &DisplayLogic::OnBnClickedSpecial);

    // Buttons on the page do not take Enter: it is dropped like everywhere else on the page.
    for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);
    for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
    return true;
}

uint64_t CDisplayDlg::LiveViewWindow() {
    QWidget* live = kestrix::Control<QWidget>(this, IDC_LIVE_VIEW);
    return live ? static_cast<uint64_t>(live->winId()) : 0;
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

void CDisplayDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint point = event->position().toPoint();
        OnLButtonDown(point.x(), point.y());
    }
    QDialog::mousePressEvent(event);
}

void CDisplayDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) OnLButtonUp();
    QDialog::mouseReleaseEvent(event);
}

// --- hooks of the logic --------------------------------------------------------------------------

void CDisplayDlg::SetTimer(int id, int milliseconds) {
    if (id == kRecordTimerId) m_timerRecord.start(milliseconds);
}

void CDisplayDlg::KillTimer(int id) {
    if (id == kRecordTimerId) m_timerRecord.stop();
}

void CDisplayDlg::SetCapture() {
    grabMouse();
}

void CDisplayDlg::ReleaseCapture() {
    releaseMouse();
}

void CDisplayDlg::ShowBitmap(int id, int bitmapId) {
    const QPixmap* pixmap = nullptr;
    switch (bitmapId) {
        case kestrix::IDB_FOCUS_MINUS:
            pixmap = &m_bmpFocusMinus;
            break;
        case kestrix::IDB_FOCUS_PLUS_DOWN:
            pixmap = &m_bmpFocusPlusDown;
            break;
        case kestrix::IDB_FOCUS_PLUS:
            pixmap = &m_bmpFocusPlus;
            break;
        case kestrix::IDB_FOCUS_MINUS_DOWN:
            pixmap = &m_bmpFocusMinusDown;
            break;
        default:
            return;
    }
    auto* label = kestrix::Control<QLabel>(this, id);
    if (!label) return;
    label->setPixmap(*pixmap);
    // A bitmap static takes the size of its bitmap.
    label->resize(pixmap->size());
}

bool CDisplayDlg::HitsControl(int id, int x, int y) const {
    const QWidget* control = kestrix::Control<QWidget>(this, id);
    return control && control->geometry().contains(x, y);
}

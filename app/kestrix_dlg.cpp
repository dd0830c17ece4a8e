// The main window: template 102, menu 131, the camera link and the teardown.
#include "kestrix_dlg.h"

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QToolButton>

#include "about_dlg.h"
#include "connect_dlg.h"
#include "dialog_template.h"
#include "display_dlg.h"
#include "message_box.h"
#include "set_cap_path_dlg.h"
#include "settings_files.h"

using kestrix::ControlKind;
using kestrix::ControlTemplate;

namespace {

// Template 102: "Brindlecap", MS Shell Dlg 9, 354 x 301, menu 131.
constexpr ControlTemplate kControls102[] = {
    {IDC_TAB, ControlKind::TabControl, "", 7, 7, 333, 275},
    {IDC_STATUS, ControlKind::Static, "Disconnect..", 7, 287, 106, 8},
};
constexpr kestrix::DialogTemplate kTemplate102{102, "Brindlecap", 9, 354, 301, kControls102};

// String 101, the system menu's About item.
constexpr const char* kAboutMenuText = "关于 Kestrix(&A)...";

}  // namespace

CKestrixDlg::CKestrixDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    m_strStoragePath = QDir::homePath();
    m_hIcon = QIcon(QStringLiteral(":/kestrix/icon128.png"));
    TLNK_Init();
    // The pipeline brings the ring buffer's two events.
    m_pPipeline = std::make_unique<kestrix::FramePipeline>(this);
    m_pPipeline->SetStoragePath(QFile::encodeName(m_strStoragePath).toStdString());
    OnInitDialog();
}

CKestrixDlg::~CKestrixDlg() {
    OnClose();
}

void CKestrixDlg::CreateMenu() {
    m_pMenuBar = new QMenuBar(this);
    m_pMenuBar->setNativeMenuBar(false);
    auto add = [this](QMenu* menu, const char* text, int id) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        action->setObjectName(QString::number(id));
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { OnMenuCommand(id); });
    };
    QMenu* camera = m_pMenuBar->addMenu(QStringLiteral("Camera"));
    add(camera, "Connect", ID_CAMERA_CONNECT);
    add(camera, "Disconnect", ID_CAMERA_DISCONNECT);
    camera->addSeparator();
    add(camera, "Exit", ID_CAMERA_EXIT);
    QMenu* setting = m_pMenuBar->addMenu(QStringLiteral("Setting"));
    add(setting, "Raw Data Path", ID_SETTING_RAWDATAPATH);

    // X11 window managers keep their window menus to themselves, so the window's own menu sits
    // where users look for it: behind the program icon at the left end of the menu bar.
    auto* button = new QToolButton(m_pMenuBar);
    button->setObjectName(QStringLiteral("systemMenu"));
    button->setIcon(m_hIcon);
    button->setAutoRaise(true);
    button->setPopupMode(QToolButton::InstantPopup);
    m_pSystemMenu = new QMenu(button);
    button->setMenu(m_pSystemMenu);
    m_pMenuBar->setCornerWidget(button, Qt::TopLeftCorner);
}

bool CKestrixDlg::OnInitDialog() {
    CreateMenu();
    const int menuHeight = m_pMenuBar->sizeHint().height();
    const kestrix::DialogUnits units(kestrix::DialogFont(kTemplate102.pointSize));
    setWindowTitle(QString::fromUtf8(kTemplate102.caption));
    setFont(kestrix::DialogFont(kTemplate102.pointSize));
    kestrix::CreateControls(this, kTemplate102, QPoint(0, menuHeight));
    const QSize client(units.ToPixelsX(kTemplate102.cx), units.ToPixelsY(kTemplate102.cy));
    m_pMenuBar->setGeometry(0, 0, client.width(), menuHeight);
    setFixedSize(client.width(), client.height() + menuHeight);
    m_tabCtrl = kestrix::Control<QTabWidget>(this, IDC_TAB);
    m_pStatus = kestrix::Control<QLabel>(this, IDC_STATUS);

    const QString about = QString::fromUtf8(kAboutMenuText);
    if (!about.isEmpty()) {
        m_pSystemMenu->addSeparator();
        QAction* action = m_pSystemMenu->addAction(about);
        action->setObjectName(QString::number(IDM_ABOUTBOX));
        connect(action, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }

    setWindowIcon(m_hIcon);

    m_tabCtrl->addTab(new QWidget(), QStringLiteral("Display"));
    connect(m_tabCtrl, &QTabWidget::currentChanged, this, [this] { OnTabSelChange(); });

    ReadStoragePathFile();

    if (!m_pDisplayDlg) m_pDisplayDlg = std::make_unique<CDisplayDlg>(this, m_tabCtrl);
    m_pDisplayDlg->setGeometry(m_tabCtrl->rect().adjusted(10, 30, -10, -10));
    m_pDisplayDlg->show();
    m_pDisplayDlg->raise();
    m_nLiveWindow.store(m_pDisplayDlg->LiveViewWindow());
    return true;
}

void CKestrixDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
    }
}

void CKestrixDlg::OnMenuCommand(int id) {
    switch (id) {
        case ID_SETTING_RAWDATAPATH: {
            CSetCapPathDlg dialog(this, this);
            dialog.exec();
            break;
        }
        case ID_CAMERA_EXIT:
            OnClose();
            QDialog::done(QDialog::Rejected);
            break;
        case ID_CAMERA_CONNECT: {
            CConnectDlg dialog(this, this);
            dialog.exec();
            break;
        }
        case ID_CAMERA_DISCONNECT:
            DisconnectCamera();
            break;
        default:
            break;
    }
}

void CKestrixDlg::OnTabSelChange() {
    (void)m_tabCtrl->currentIndex();
}

void CKestrixDlg::done(int result) {
    OnClose();
    QDialog::done(result);
}

void CKestrixDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CKestrixDlg::OnClose() {
    if (m_bTornDown) return;
    m_bTornDown = true;
    // The stream stops first, so the SDK's thread no longer pushes; then the worker ends, before
    // anything it uses goes. Its last readouts are posted, never waited for, so the join is safe.
    DisconnectCamera();
    if (m_pPipeline) m_pPipeline->StopWorker();
    kestrix::LinkReleaseRender(m_hRender);
    if (m_pPipeline) {
        m_pPipeline->m_bRecording.store(false);
        m_pPipeline->SwitchRecordFile();
        // The ring buffer with its events, the frame buffers and the gain control's work block.
        m_pPipeline.reset();
    }
    m_nLiveWindow.store(0);
    m_pDisplayDlg.reset();
}

// --- camera link ---------------------------------------------------------------------------------

bool CKestrixDlg::LoginCamera() {
    DisconnectCamera();
    m_lUserID = kestrix::LinkLogin(m_strCameraIP.toStdString(), m_nPort,
                                   m_strUserName.toStdString(), m_strPassword.toStdString());
    if (m_lUserID < 0) {
        const uint32_t error = TLNK_GetLastError();
        kestrix::ShowMessageBox(this, QStringLiteral("Connect is failed... Err = %1 ").arg(error));
        return false;
    }
    SetStatusText(m_strCameraIP + QStringLiteral(" is connecting"));
    return true;
}

bool CKestrixDlg::StartRealPlay() {
    if (m_lUserID < 0 || !m_pPipeline) return false;
    if (m_lRealPlayHandle >= 0) {
        TLNK_StopRealPlay(m_lRealPlayHandle);
        m_lRealPlayHandle = -1;
    }
    // Ends an earlier worker before the ring is emptied, then starts the new one, so that it runs
    // before the first payload arrives.
    m_pPipeline->StartWorker();
    m_lRealPlayHandle = kestrix::LinkStartStream(m_lUserID, m_pPipeline.get());
    if (m_lRealPlayHandle < 0) {
        kestrix::ShowMessageBox(this, QStringLiteral("Get Stream is failed.."));
        return false;
    }
    return InitRender();
}

bool CKestrixDlg::InitRender() {
    return kestrix::LinkInitRender(m_hRender, &DrawCallback, this);
}

void CKestrixDlg::DisconnectCamera() {
    if (m_pDisplayDlg) m_pDisplayDlg->EndFocusHold();
    if (m_lRealPlayHandle >= 0) {
        TLNK_StopRealPlay(m_lRealPlayHandle);
        m_lRealPlayHandle = -1;
    }
    if (m_lUserID >= 0) {
        TLNK_Logout(m_lUserID);
        m_lUserID = -1;
    }
    if (GetRecording()) {
        SetRecording(false);
        SwitchRecordFile();
        if (m_pDisplayDlg) m_pDisplayDlg->UpdateRecordButtonText();
    }
    SetStatusText(QStringLiteral("Disconnected.."));
}

void CKestrixDlg::DrawCallback(void* user, int32_t, int32_t, int32_t, int32_t, int32_t) {
    if (user) static_cast<CKestrixDlg*>(user)->DrawCentreBox();
}

void CKestrixDlg::DrawCentreBox() {
    kestrix::LinkDrawCentreBox(m_hRender.load());
}

// --- settings ------------------------------------------------------------------------------------

void CKestrixDlg::SetStoragePath(const QString& path) {
    m_strStoragePath = path;
    if (m_pPipeline) m_pPipeline->SetStoragePath(QFile::encodeName(path).toStdString());
}

void CKestrixDlg::ReadStoragePathFile() {
    if (const auto line = kestrix::ReadSettingLine(kestrix::StoragePathFilePath())) {
        SetStoragePath(*line);
    }
}

// --- panel operations ----------------------------------------------------------------------------

void CKestrixDlg::SetRecording(bool recording) {
    if (m_pPipeline) m_pPipeline->m_bRecording.store(recording);
}

bool CKestrixDlg::GetRecording() const {
    return m_pPipeline && m_pPipeline->m_bRecording.load();
}

void CKestrixDlg::FocusControl(uint32_t command, uint32_t stop) {
    if (m_lUserID >= 0) TLNK_PTZControl_Other(m_lUserID, 1, command, stop);
}

void CKestrixDlg::StartSnapshots(int32_t count) {
    if (m_pPipeline) m_pPipeline->StartSnapshots(count);
}

void CKestrixDlg::MarkRecordDue() {
    if (m_pPipeline) m_pPipeline->MarkRecordDue();
}

void CKestrixDlg::SetAgcMode(int32_t mode) {
    if (m_pPipeline) m_pPipeline->SetAgcMode(mode);
}

void CKestrixDlg::SwitchRecordFile() {
    if (m_pPipeline) m_pPipeline->SwitchRecordFile();
}

void CKestrixDlg::SetHighToLow(bool on) {
    if (m_pPipeline) m_pPipeline->m_bHighToLow.store(on);
}

void CKestrixDlg::SetCenterAndTemp(bool on) {
    if (m_pPipeline) m_pPipeline->m_bCenterAndTemp.store(on);
}

// --- status line ---------------------------------------------------------------------------------

QString CKestrixDlg::StatusText() const {
    return m_pStatus ? m_pStatus->text() : QString();
}

void CKestrixDlg::SetStatusText(const QString& text) {
    if (m_pStatus) m_pStatus->setText(text);
}

// --- frame sink ----------------------------------------------------------------------------------

void CKestrixDlg::UpdateReadouts(const kestrix::ReadoutUpdate& update) {
    {
        std::lock_guard lock(m_readoutLock);
        m_readouts = update.texts;
    }
    if (!m_bReadoutsPosted.exchange(true)) {
        QMetaObject::invokeMethod(
            this, [this] { ApplyReadouts(); }, Qt::QueuedConnection);
    }
}

void CKestrixDlg::ApplyReadouts() {
    kestrix::ReadoutTexts texts;
    {
        std::lock_guard lock(m_readoutLock);
        m_bReadoutsPosted.store(false);
        texts = m_readouts;
    }
    if (!m_pDisplayDlg) return;
    for (int i = 0; i < kestrix::kReadoutCount; ++i) {
        m_pDisplayDlg->SetReadoutText(kestrix::kReadoutControlIds[i],
                                      QString::fromUtf8(texts.text[i]));
    }
}

void CKestrixDlg::ShowLiveFrame(const kestrix::DisplayFrame& frame, const uint8_t* /*gray*/) {
    kestrix::LinkShowFrame(m_hRender.load(), frame, m_nLiveWindow.load());
}

void CKestrixDlg::ShowNotice(const char* text) {
    const QString message = QString::fromUtf8(text);
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            if (m_pDisplayDlg) m_pDisplayDlg->EndFocusHold();
            kestrix::ShowMessageBox(this, message);
        },
        Qt::QueuedConnection);
}

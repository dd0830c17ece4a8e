// The main window in Qt: template 102, menu 131 and the window menu.
#include "kestrix_dlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QToolButton>

#include "about_dlg.h"
#include "connect_dlg.h"
#include "display_dlg.h"
#include "set_cap_path_dlg.h"

CKestrixDlg::CKestrixDlg(QWidget* parent) : QtDialog(parent) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    m_hIcon = QIcon(QStringLiteral(":/kestrix/icon128.png"));
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
    const kestrix::DialogTemplate& dialog = kestrix::kTemplate102;
    CreateMenu();
    const int menuHeight = m_pMenuBar->sizeHint().height();
    const kestrix::DialogUnits units(kestrix::DialogFont(dialog.pointSize));
    setWindowTitle(QString::fromUtf8(dialog.caption));
    setFont(kestrix::DialogFont(dialog.pointSize));
    kestrix::CreateControls(this, dialog, QPoint(0, menuHeight));
    const QSize client(units.ToPixelsX(dialog.cx), units.ToPixelsY(dialog.cy));
    m_pMenuBar->setGeometry(0, 0, client.width(), menuHeight);
    setFixedSize(client.width(), client.height() + menuHeight);
    m_tabCtrl = kestrix::Control<QTabWidget>(this, IDC_TAB);
    m_pStatus = kestrix::Control<QLabel>(this, IDC_STATUS);

    const QString about = QString::fromUtf8(kestrix::kAboutMenuText);
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
    SetLiveWindow(m_pDisplayDlg->LiveViewWindow());
    return true;
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

QString CKestrixDlg::StatusText() const {
    return m_pStatus ? m_pStatus->text() : QString();
}

// --- hooks of the logic --------------------------------------------------------------------------

void CKestrixDlg::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void CKestrixDlg::ShowWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void CKestrixDlg::RunConnectDialog() {
    CConnectDlg dialog(this, this);
    dialog.exec();
}

void CKestrixDlg::RunStoragePathDialog() {
    CSetCapPathDlg dialog(this, this);
    dialog.exec();
}

void CKestrixDlg::RunAboutBox() {
    CAboutDlg about(this);
    about.exec();
}

kestrix::DisplayLogic* CKestrixDlg::Panel() {
    return m_pDisplayDlg.get();
}

void CKestrixDlg::DestroyPanel() {
    m_pDisplayDlg.reset();
}

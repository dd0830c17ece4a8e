// The connection dialog: template 133 and the address file.
#include "connect_dlg.h"

#include <QLineEdit>
#include <QPushButton>

#include "dialog_template.h"
#include "kestrix_dlg.h"
#include "settings_files.h"

using kestrix::ControlKind;
using kestrix::ControlTemplate;

namespace {

// Template 133: "Camera Connect", MS Shell Dlg 8, 226 x 167; listed in tab order.
constexpr ControlTemplate kControls133[] = {
    {1, ControlKind::DefPushButton, "OK", 43, 146, 50, 14},
    {2, ControlKind::PushButton, "Cancel", 122, 146, 50, 14},
    {-1, ControlKind::GroupBox, "Connect Information", 15, 19, 196, 120},
    {-1, ControlKind::Static, "Camera IP:", 35, 36, 37, 8},
    {-1, ControlKind::Static, "User Name:", 33, 60, 38, 8},
    {-1, ControlKind::Static, "Password:", 37, 86, 34, 8},
    {-1, ControlKind::Static, "Port:", 55, 113, 17, 8},
    {IDC_CAMERA_IP, ControlKind::Edit, "", 81, 34, 108, 14},
    {IDC_USER_NAME, ControlKind::Edit, "", 81, 59, 108, 14},
    {IDC_PASSWORD, ControlKind::Edit, "", 81, 84, 108, 14},
    {IDC_PORT, ControlKind::Edit, "", 81, 109, 108, 14},
};
constexpr kestrix::DialogTemplate kTemplate133{133, "Camera Connect", 8, 226, 167, kControls133};

}  // namespace

CConnectDlg::CConnectDlg(CKestrixDlg* mainDlg, QWidget* parent)
    : QDialog(parent), m_pMainDlg(mainDlg) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const kestrix::DialogUnits units(kestrix::DialogFont(kTemplate133.pointSize));
    setWindowTitle(QString::fromUtf8(kTemplate133.caption));
    setFont(kestrix::DialogFont(kTemplate133.pointSize));
    setFixedSize(units.ToPixelsX(kTemplate133.cx), units.ToPixelsY(kTemplate133.cy));
    kestrix::CreateControls(this, kTemplate133);
    connect(kestrix::Control<QPushButton>(this, 1), &QPushButton::clicked, this,
            [this] { OnOK(); });
    connect(kestrix::Control<QPushButton>(this, 2), &QPushButton::clicked, this, &QDialog::reject);
    OnInitDialog();
}

bool CConnectDlg::OnInitDialog() {
    ReadAddressFile();
    if (m_pMainDlg) {
        m_strUser = m_pMainDlg->UserName();
        m_strPass = m_pMainDlg->Password();
        m_nPortNo = m_pMainDlg->Port();
    }
    kestrix::Control<QLineEdit>(this, IDC_CAMERA_IP)->setText(m_strIP);
    kestrix::Control<QLineEdit>(this, IDC_USER_NAME)->setText(m_strUser);
    kestrix::Control<QLineEdit>(this, IDC_PASSWORD)->setText(m_strPass);
    kestrix::Control<QLineEdit>(this, IDC_PORT)->setText(QString::number(m_nPortNo));
    // The first tab stop takes the focus.
    kestrix::Control<QPushButton>(this, 1)->setFocus();
    return true;
}

void CConnectDlg::OnOK() {
    m_strIP = kestrix::Control<QLineEdit>(this, IDC_CAMERA_IP)->text();
    WriteAddressFile();
    m_strUser = kestrix::Control<QLineEdit>(this, IDC_USER_NAME)->text();
    m_strPass = kestrix::Control<QLineEdit>(this, IDC_PASSWORD)->text();
    m_nPortNo = kestrix::ParseDialogInt(kestrix::Control<QLineEdit>(this, IDC_PORT)->text());
    if (m_pMainDlg) {
        m_pMainDlg->SetUserName(m_strUser);
        m_pMainDlg->SetPassword(m_strPass);
        m_pMainDlg->SetPort(m_nPortNo);
        m_pMainDlg->SetCameraIP(m_strIP);
        if (!m_pMainDlg->LoginCamera()) return;
        if (!m_pMainDlg->StartRealPlay()) return;
    }
    accept();
}

void CConnectDlg::ReadAddressFile() {
    if (const auto line = kestrix::ReadSettingLine(kestrix::AddressFilePath())) m_strIP = *line;
}

void CConnectDlg::WriteAddressFile() {
    kestrix::WriteSettingLine(kestrix::AddressFilePath(), m_strIP);
}

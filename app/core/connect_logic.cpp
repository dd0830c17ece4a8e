// The connection dialog's decisions and the address file.
#include "connect_logic.h"

#include "dialog_templates.h"
#include "kestrix_logic.h"
#include "settings_files.h"

namespace kestrix {

void ConnectLogic::OnInitDialog() {
    ReadAddressFile();
    if (m_pMainDlg) {
        m_strUser = m_pMainDlg->UserName();
        m_strPass = m_pMainDlg->Password();
        m_nPortNo = m_pMainDlg->Port();
    }
    SetControlText(IDC_CAMERA_IP, m_strIP);
    SetControlText(IDC_USER_NAME, m_strUser);
    SetControlText(IDC_PASSWORD, m_strPass);
    SetControlText(IDC_PORT, std::to_string(m_nPortNo));
}

void ConnectLogic::OnOK() {
    m_strIP = ControlText(IDC_CAMERA_IP);
    WriteAddressFile();
    m_strUser = ControlText(IDC_USER_NAME);
    m_strPass = ControlText(IDC_PASSWORD);
    m_nPortNo = ParseDialogInt(ControlText(IDC_PORT));
    if (m_pMainDlg) {
        m_pMainDlg->SetUserName(m_strUser);
        m_pMainDlg->SetPassword(m_strPass);
        m_pMainDlg->SetPort(m_nPortNo);
        m_pMainDlg->SetCameraIP(m_strIP);
        if (!m_pMainDlg->LoginCamera()) return;
        if (!m_pMainDlg->StartRealPlay()) return;
    }
    EndDialog(true);
}

void ConnectLogic::ReadAddressFile() {
    if (auto line = ReadSettingLine(AddressFilePath())) m_strIP = std::move(*line);
}

void ConnectLogic::WriteAddressFile() {
    WriteSettingLine(AddressFilePath(), m_strIP);
}

}  // namespace kestrix

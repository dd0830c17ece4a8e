// CConnectDlg: the camera address, user name, password and port; on OK it hands them to the main
// window, logs in and starts the stream, and closes only when both succeeded. The address persists
// in the address file.
#pragma once

#include <QDialog>
#include <cstdint>

class CKestrixDlg;

enum : int {
    IDC_CAMERA_IP = 1004,
    IDC_USER_NAME = 1005,
    IDC_PASSWORD = 1006,
    IDC_PORT = 1007,
};

class CConnectDlg : public QDialog {
    Q_OBJECT

  public:
    // `mainDlg` may be null: the dialog then only writes the address file.
    CConnectDlg(CKestrixDlg* mainDlg, QWidget* parent);

    bool OnInitDialog();
    void OnOK();
    void ReadAddressFile();
    void WriteAddressFile();

    QString m_strIP = QStringLiteral("127.0.0.1");  // the built-in camera emulator
    QString m_strUser = QStringLiteral("admin");
    QString m_strPass = QStringLiteral("qbxwz70413");
    int32_t m_nPortNo = 8000;
    CKestrixDlg* m_pMainDlg;
};

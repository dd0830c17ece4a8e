// ConnectLogic: what the connection dialog decides. It shows the camera address, user name,
// password and port; on OK it hands them to the main window, logs in and starts the stream, and
// ends only when both succeeded. The address persists in the address file. The front-end derives
// from it and shows template 133.
#pragma once

#include <cstdint>
#include <string>

#include "dialog_hooks.h"

namespace kestrix {

class KestrixLogic;

class ConnectLogic : public DialogHooks {
  public:
    // `mainDlg` may be null: the dialog then only writes the address file.
    explicit ConnectLogic(KestrixLogic* mainDlg) : m_pMainDlg(mainDlg) {}

    // The address from its file, the rest from the main window, into the fields.
    void OnInitDialog();
    void OnOK();
    void ReadAddressFile();
    void WriteAddressFile();

    std::string m_strIP = "127.0.0.1";  // the built-in camera emulator
    std::string m_strUser = "admin";
    std::string m_strPass = "qbxwz70413";
    int32_t m_nPortNo = 8000;
    KestrixLogic* m_pMainDlg;
};

}  // namespace kestrix

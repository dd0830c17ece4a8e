// CConnectDlg: the connection dialog in Qt, template 133 mapped to the connection logic.
#pragma once

#include "connect_logic.h"
#include "dialog_templates.h"
#include "qt_dialog.h"

using kestrix::IDC_CAMERA_IP;
using kestrix::IDC_PASSWORD;
using kestrix::IDC_PORT;
using kestrix::IDC_USER_NAME;

class CConnectDlg : public kestrix::QtDialog<kestrix::ConnectLogic> {
    Q_OBJECT

  public:
    // `mainDlg` may be null: the dialog then only writes the address file.
    CConnectDlg(kestrix::KestrixLogic* mainDlg, QWidget* parent);

    bool OnInitDialog();
};

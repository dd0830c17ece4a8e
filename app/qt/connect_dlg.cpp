// The connection dialog in Qt.
#include "connect_dlg.h"

#include <QPushButton>

CConnectDlg::CConnectDlg(kestrix::KestrixLogic* mainDlg, QWidget* parent)
    : QtDialog(parent, mainDlg) {
    kestrix::LayOutTopLevel(this, kestrix::kTemplate133);
    connect(kestrix::Control<QPushButton>(this, 1), &QPushButton::clicked, this,
            [this] { OnOK(); });
    connect(kestrix::Control<QPushButton>(this, 2), &QPushButton::clicked, this, &QDialog::reject);
    OnInitDialog();
}

bool CConnectDlg::OnInitDialog() {
    ConnectLogic::OnInitDialog();
    // The first tab stop takes the focus.
    kestrix::Control<QPushButton>(this, 1)->setFocus();
    return true;
}

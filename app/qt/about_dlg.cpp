// The About box in Qt: template 100.
#include "about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "dialog_layout.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    kestrix::LayOutTopLevel(this, kestrix::kTemplate100);
    // An icon static takes the icon's size.
    auto* icon = kestrix::Control<QLabel>(this, kestrix::IDC_ABOUT_ICON);
    icon->setPixmap(QPixmap(QStringLiteral(":/kestrix/icon128.png")));
    icon->resize(32, 32);
    connect(kestrix::Control<QPushButton>(this, 1), &QPushButton::clicked, this, &QDialog::accept);
}

// The About box: template 100.
#include "about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "dialog_template.h"

using kestrix::ControlKind;
using kestrix::ControlTemplate;

namespace {

constexpr int IDC_ABOUT_ICON = 1100;

// Template 100: "关于 Kestrix", MS Shell Dlg 8, 170 x 62.
constexpr ControlTemplate kControls100[] = {
    {IDC_ABOUT_ICON, ControlKind::Static, "", 14, 14, 21, 20},
    {-1, ControlKind::Static, "Kestrix，1.0 版", 42, 14, 114, 8},
    {1, ControlKind::DefPushButton, "确定", 113, 41, 50, 14},
};
constexpr kestrix::DialogTemplate kTemplate100{100, "关于 Kestrix", 8, 170, 62, kControls100};

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const kestrix::DialogUnits units(kestrix::DialogFont(kTemplate100.pointSize));
    setWindowTitle(QString::fromUtf8(kTemplate100.caption));
    setFont(kestrix::DialogFont(kTemplate100.pointSize));
    setFixedSize(units.ToPixelsX(kTemplate100.cx), units.ToPixelsY(kTemplate100.cy));
    kestrix::CreateControls(this, kTemplate100);
    // An icon static takes the icon's size.
    auto* icon = kestrix::Control<QLabel>(this, IDC_ABOUT_ICON);
    icon->setPixmap(QPixmap(QStringLiteral(":/kestrix/icon128.png")));
    icon->resize(32, 32);
    connect(kestrix::Control<QPushButton>(this, 1), &QPushButton::clicked, this, &QDialog::accept);
}

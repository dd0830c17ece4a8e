// The storage path dialog: template 132, the folder chooser and the path file.
#include "set_cap_path_dlg.h"

#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "dialog_template.h"
#include "kestrix_dlg.h"
#include "message_box.h"
#include "settings_files.h"

using kestrix::ControlKind;
using kestrix::ControlTemplate;

namespace {

// Template 132: "设置原始数据存储路径", MS Shell Dlg 8, 377 x 91.
constexpr ControlTemplate kControls132[] = {
    {-1, ControlKind::Static, "存储路径：", 26, 38, 44, 12},
    {IDC_STORAGE_PATH, ControlKind::ReadOnlyEdit, "", 79, 35, 219, 14},
    {IDC_BROWSE, ControlKind::PushButton, "浏览", 307, 35, 50, 14},
};
constexpr kestrix::DialogTemplate kTemplate132{132,         "设置原始数据存储路径", 8, 377, 91,
                                               kControls132};

std::optional<QString> ChooseFolder(QWidget* owner, const QString& title, const QString& start) {
    QFileDialog dialog(owner, title, start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return QString();
    const QUrl url = QUrl::fromUserInput(chosen.first(), start, QUrl::AssumeLocalFile);
    return url.isLocalFile() ? QDir::cleanPath(url.toLocalFile()) : QString();
}

CSetCapPathDlg::FolderChooser& Chooser() {
    static CSetCapPathDlg::FolderChooser chooser = ChooseFolder;
    return chooser;
}

}  // namespace

CSetCapPathDlg::CSetCapPathDlg(CKestrixDlg* mainDlg, QWidget* parent)
    : QDialog(parent), m_pMainDlg(mainDlg) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const kestrix::DialogUnits units(kestrix::DialogFont(kTemplate132.pointSize));
    setWindowTitle(QString::fromUtf8(kTemplate132.caption));
    setFont(kestrix::DialogFont(kTemplate132.pointSize));
    setFixedSize(units.ToPixelsX(kTemplate132.cx), units.ToPixelsY(kTemplate132.cy));
    kestrix::CreateControls(this, kTemplate132);
    connect(kestrix::Control<QPushButton>(this, IDC_BROWSE), &QPushButton::clicked, this,
            [this] { OnBrowse(); });
    OnInitDialog();
}

void CSetCapPathDlg::SetFolderChooserForTesting(FolderChooser chooser) {
    Chooser() = chooser ? std::move(chooser) : FolderChooser(ChooseFolder);
}

bool CSetCapPathDlg::OnInitDialog() {
    auto* field = kestrix::Control<QLineEdit>(this, IDC_STORAGE_PATH);
    field->setFocus();
    if (!m_pMainDlg) return true;
    m_strPath = m_pMainDlg->StoragePath();
    field->setText(m_strPath);
    return true;
}

void CSetCapPathDlg::OnBrowse() {
    const std::optional<QString> chosen =
        Chooser()(this, QStringLiteral("Please select raw data path:"), m_strPath);
    if (!chosen) return;
    if (chosen->isEmpty()) {
        kestrix::ShowMessageBox(this, QStringLiteral("Please select the true path!"));
        return;
    }
    m_strPath = *chosen;
    kestrix::Control<QLineEdit>(this, IDC_STORAGE_PATH)->setText(m_strPath);
    if (m_pMainDlg) m_pMainDlg->SetStoragePath(m_strPath);
    WritePathFile();
}

void CSetCapPathDlg::WritePathFile() {
    kestrix::WriteSettingLine(kestrix::StoragePathFilePath(), m_strPath);
}

void CSetCapPathDlg::keyPressEvent(QKeyEvent* event) {
    // Enter ends the dialog unless it goes to the browse button, which it then presses.
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
        focusWidget() != kestrix::Control<QWidget>(this, IDC_BROWSE)) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

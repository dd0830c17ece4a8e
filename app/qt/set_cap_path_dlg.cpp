// The storage path dialog in Qt: the folder chooser and Enter.
#include "set_cap_path_dlg.h"

#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace {

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

CSetCapPathDlg::CSetCapPathDlg(kestrix::KestrixLogic* mainDlg, QWidget* parent)
    : QtDialog(parent, mainDlg) {
    kestrix::LayOutTopLevel(this, kestrix::kTemplate132);
    connect(kestrix::Control<QPushButton>(this, IDC_BROWSE), &QPushButton::clicked, this,
            [this] { OnBrowse(); });
    OnInitDialog();
}

void CSetCapPathDlg::SetFolderChooserForTesting(FolderChooser chooser) {
    Chooser() = chooser ? std::move(chooser) : FolderChooser(ChooseFolder);
}

bool CSetCapPathDlg::OnInitDialog() {
    kestrix::Control<QLineEdit>(this, IDC_STORAGE_PATH)->setFocus();
    SetCapPathLogic::OnInitDialog();
    return true;
}

std::optional<std::string> CSetCapPathDlg::BrowseForFolder(const std::string& title,
                                                           const std::string& start) {
    const std::optional<QString> chosen =
        Chooser()(this, QString::fromStdString(title), QString::fromStdString(start));
    if (!chosen) return std::nullopt;
    return chosen->toStdString();
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

// CSetCapPathDlg: shows the storage folder and changes it through the folder chooser. A chosen
// folder takes effect at once, in the main window and in the path file; the dialog has no OK or
// Cancel of its own.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>

class QKeyEvent;
class CKestrixDlg;

enum : int {
    IDC_STORAGE_PATH = 1001,
    IDC_BROWSE = 1002,
};

class CSetCapPathDlg : public QDialog {
    Q_OBJECT

  public:
    CSetCapPathDlg(CKestrixDlg* mainDlg, QWidget* parent);

    bool OnInitDialog();
    void OnBrowse();
    void WritePathFile();

    // The folder chooser: starts at `start`; nothing when cancelled, an empty path when the chosen
    // item has no file-system path.
    using FolderChooser = std::function<std::optional<QString>(QWidget* owner, const QString& title,
                                                               const QString& start)>;
    static void SetFolderChooserForTesting(FolderChooser chooser);

    QString m_strPath;
    CKestrixDlg* m_pMainDlg;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

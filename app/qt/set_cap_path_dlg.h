// CSetCapPathDlg: the storage path dialog in Qt, template 132 and the folder chooser mapped to the
// storage path logic. The dialog has no OK or Cancel of its own.
#pragma once

#include <functional>
#include <optional>

#include "dialog_templates.h"
#include "qt_dialog.h"
#include "set_cap_path_logic.h"

class QKeyEvent;

using kestrix::IDC_BROWSE;
using kestrix::IDC_STORAGE_PATH;

class CSetCapPathDlg : public kestrix::QtDialog<kestrix::SetCapPathLogic> {
    Q_OBJECT

  public:
    CSetCapPathDlg(kestrix::KestrixLogic* mainDlg, QWidget* parent);

    bool OnInitDialog();

    // The folder chooser: starts at `start`; nothing when cancelled, an empty path when the chosen
    // item has no file-system path.
    using FolderChooser = std::function<std::optional<QString>(QWidget* owner, const QString& title,
                                                               const QString& start)>;
    static void SetFolderChooserForTesting(FolderChooser chooser);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    std::optional<std::string> BrowseForFolder(const std::string& title,
                                               const std::string& start) override;
};

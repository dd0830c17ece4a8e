// SetCapPathLogic: what the storage path dialog decides. It shows the storage folder and changes
// it through the folder browser; a chosen folder takes effect at once, in the main window and in
// the path file. The front-end derives from it and shows template 132.
#pragma once

#include <optional>
#include <string>

#include "dialog_hooks.h"

namespace kestrix {

class KestrixLogic;

class SetCapPathLogic : public DialogHooks {
  public:
    explicit SetCapPathLogic(KestrixLogic* mainDlg) : m_pMainDlg(mainDlg) {}

    void OnInitDialog();
    void OnBrowse();
    void WritePathFile();

    std::string m_strPath;
    KestrixLogic* m_pMainDlg;

  protected:
    // The folder browser with `title`, starting at `start`: nothing when cancelled, an empty path
    // when the chosen item has no file-system path.
    virtual std::optional<std::string> BrowseForFolder(const std::string& title,
                                                       const std::string& start) = 0;
};

}  // namespace kestrix

// The storage path dialog's decisions and the path file.
#include "set_cap_path_logic.h"

#include "dialog_templates.h"
#include "kestrix_logic.h"
#include "settings_files.h"

namespace kestrix {

void SetCapPathLogic::OnInitDialog() {
    if (!m_pMainDlg) return;
    m_strPath = m_pMainDlg->StoragePath();
    SetControlText(IDC_STORAGE_PATH, m_strPath);
}

void SetCapPathLogic::OnBrowse() {
    std::optional<std::string> chosen = BrowseForFolder("Please select raw data path:", m_strPath);
    if (!chosen) return;
    if (chosen->empty()) {
        ShowMessageBox("Please select the true path!");
        return;
    }
    m_strPath = std::move(*chosen);
    SetControlText(IDC_STORAGE_PATH, m_strPath);
    if (m_pMainDlg) m_pMainDlg->SetStoragePath(m_strPath);
    WritePathFile();
}

void SetCapPathLogic::WritePathFile() {
    WriteSettingLine(StoragePathFilePath(), m_strPath);
}

}  // namespace kestrix

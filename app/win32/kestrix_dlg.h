// CKestrixDlg: the main window in Win32. It shows template 102 with menu 131, the About item in the
// system menu, the tab control with the display panel and the status line, and maps them to the
// main window's logic.
#pragma once

#include <atomic>
#include <memory>

#include "display_dlg.h"
#include "kestrix_logic.h"
#include "win32_dialog.h"

class CKestrixDlg : public kestrix::Win32Dialog<kestrix::KestrixLogic> {
  public:
    CKestrixDlg();
    ~CKestrixDlg() override;

    CDisplayDlg* DisplayPanel() const { return m_pDisplayDlg.get(); }

  protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    void Post(std::function<void()> task) override;
    void ShowWaitCursor(bool on) override;
    void RunDialog(int templateId) override;
    kestrix::DisplayLogic* Panel() override;
    void DestroyPanel() override;

  private:
    bool OnInitDialog();
    void CreateMenuBar();
    // Drops the posted tasks that the window did not run.
    void DropPendingTasks();

    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    HCURSOR m_hCursorBeforeWait = nullptr;  // put back when a camera call ends
    std::unique_ptr<CDisplayDlg> m_pDisplayDlg;  // created by OnInitDialog, freed by the teardown
    // Where Post sends its tasks: GUI thread writes (made, destroyed), any thread reads.
    std::atomic<HWND> m_hPostTarget{nullptr};
};

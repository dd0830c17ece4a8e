// CKestrixDlg: the main window in Qt. It shows template 102 with menu 131, the window menu with the
// About item and the display panel, and maps them to the main window's logic.
#pragma once

#include <QIcon>
#include <memory>

#include "dialog_templates.h"
#include "kestrix_logic.h"
#include "qt_dialog.h"

class QLabel;
class QMenu;
class QMenuBar;
class QTabWidget;
class CDisplayDlg;

using kestrix::ID_CAMERA_CONNECT;
using kestrix::ID_CAMERA_DISCONNECT;
using kestrix::ID_CAMERA_EXIT;
using kestrix::ID_COMMAND_FIRST;
using kestrix::ID_COMMAND_LAST;
using kestrix::ID_SETTING_RAWDATAPATH;
using kestrix::IDC_STATUS;
using kestrix::IDC_TAB;
using kestrix::IDM_ABOUTBOX;

class CKestrixDlg : public kestrix::QtDialog<kestrix::KestrixLogic> {
    Q_OBJECT

  public:
    explicit CKestrixDlg(QWidget* parent = nullptr);
    ~CKestrixDlg() override;

    bool OnInitDialog();
    void OnTabSelChange();

    CDisplayDlg* DisplayPanel() const { return m_pDisplayDlg.get(); }
    QString StatusText() const;
    QMenuBar* MenuBar() const { return m_pMenuBar; }
    QMenu* SystemMenu() const { return m_pSystemMenu; }

  protected:
    // Every way the modal loop ends (close box, Exit, Enter or Esc reaching the window) passes
    // here.
    void done(int result) override;
    // Enter reaching the window ends it, as Escape does.
    void keyPressEvent(QKeyEvent* event) override;

    void Post(std::function<void()> task) override;
    void RunConnectDialog() override;
    void RunStoragePathDialog() override;
    void RunAboutBox() override;
    kestrix::DisplayLogic* Panel() override;
    void DestroyPanel() override;
    void ShowWaitCursor(bool on) override;

  private:
    void CreateMenu();

    QIcon m_hIcon;
    QTabWidget* m_tabCtrl = nullptr;
    QLabel* m_pStatus = nullptr;
    QMenuBar* m_pMenuBar = nullptr;
    QMenu* m_pSystemMenu = nullptr;
    std::unique_ptr<CDisplayDlg> m_pDisplayDlg;  // created by OnInitDialog, freed by the teardown
};

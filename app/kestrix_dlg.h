// CKestrixDlg: the main window. It owns everything that lives as long as the program: the
// connection settings, the camera link state, the frame pipeline (ring buffer, worker, frame
// buffers, gain control, record file), the render handle and the display panel, and it tears them
// down in a fixed order when it closes.
#pragma once

#include <QDialog>
#include <QIcon>
#include <atomic>
#include <memory>
#include <mutex>

#include "camera_link.h"
#include "frame_pipeline.h"

class QLabel;
class QMenu;
class QMenuBar;
class QTabWidget;
class CDisplayDlg;

// Command IDs of menu 131 and of the system menu.
enum : int {
    IDM_ABOUTBOX = 0x0010,
    ID_SETTING_RAWDATAPATH = 32774,
    ID_CAMERA_EXIT = 32777,
    ID_CAMERA_CONNECT = 32781,
    ID_CAMERA_DISCONNECT = 32783,
    ID_COMMAND_FIRST = 32774,
    ID_COMMAND_LAST = 32786,
};
constexpr int IDC_TAB = 1000;
constexpr int IDC_STATUS = 1009;

class CKestrixDlg : public QDialog, public kestrix::FrameSink {
    Q_OBJECT

  public:
    explicit CKestrixDlg(QWidget* parent = nullptr);
    ~CKestrixDlg() override;

    bool OnInitDialog();
    void OnSysCommand(int id);
    void OnMenuCommand(int id);
    void OnTabSelChange();
    // The teardown; safe to run more than once and however the window ends.
    void OnClose();

    // --- camera link (GUI thread) --------------------------------------------------------------
    bool LoginCamera();
    bool StartRealPlay();
    void DisconnectCamera();
    bool InitRender();
    // The render library's overlay callback: `user` is the main window.
    static void DrawCallback(void* user, int32_t subPort, int32_t kind, int32_t width,
                             int32_t height, int32_t reserved);
    void DrawCentreBox();

    // --- settings, for the connection and storage path dialogs ---------------------------------
    QString CameraIP() const { return m_strCameraIP; }
    QString UserName() const { return m_strUserName; }
    QString Password() const { return m_strPassword; }
    int32_t Port() const { return m_nPort; }
    void SetCameraIP(const QString& ip) { m_strCameraIP = ip; }
    void SetUserName(const QString& user) { m_strUserName = user; }
    void SetPassword(const QString& password) { m_strPassword = password; }
    void SetPort(int32_t port) { m_nPort = port; }
    QString StoragePath() const { return m_strStoragePath; }
    void SetStoragePath(const QString& path);
    void ReadStoragePathFile();

    // --- operations of the display panel --------------------------------------------------------
    void SetRecording(bool recording);
    bool GetRecording() const;
    int32_t GetUserID() const { return m_lUserID; }
    void FocusControl(uint32_t command, uint32_t stop);
    void StartSnapshots(int32_t count);
    void MarkRecordDue();
    void SetAgcMode(int32_t mode);
    void SwitchRecordFile();
    void SetHighToLow(bool on);
    void SetCenterAndTemp(bool on);

    // --- frame sink (worker thread); nothing here waits for the GUI thread
    // ------------------------
    void UpdateReadouts(const kestrix::ReadoutUpdate& update) override;
    void ShowLiveFrame(const kestrix::DisplayFrame& frame, const uint8_t* gray) override;
    void ShowNotice(const char* text) override;

    CDisplayDlg* DisplayPanel() const { return m_pDisplayDlg.get(); }
    kestrix::FramePipeline* Pipeline() const { return m_pPipeline.get(); }
    int32_t RealPlayHandle() const { return m_lRealPlayHandle; }
    GLT_HANDLE RenderHandle() const { return m_hRender.load(); }
    QString StatusText() const;
    QMenuBar* MenuBar() const { return m_pMenuBar; }
    QMenu* SystemMenu() const { return m_pSystemMenu; }

  protected:
    // Every way the modal loop ends (close box, Exit, Enter or Esc reaching the window) passes
    // here.
    void done(int result) override;
    // Enter reaching the window ends it, as Escape does.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void CreateMenu();
    void SetStatusText(const QString& text);
    void ApplyReadouts();

    QIcon m_hIcon;
    QTabWidget* m_tabCtrl = nullptr;
    QLabel* m_pStatus = nullptr;
    QMenuBar* m_pMenuBar = nullptr;
    QMenu* m_pSystemMenu = nullptr;
    std::unique_ptr<CDisplayDlg> m_pDisplayDlg;  // created by OnInitDialog, freed by the teardown

    int32_t m_lUserID = -1;
    int32_t m_lRealPlayHandle = -1;
    QString m_strCameraIP = QStringLiteral("192.168.1.64");
    int32_t m_nPort = 8000;
    QString m_strUserName = QStringLiteral("admin");
    QString m_strPassword = QStringLiteral("qbxwz70413");

    // The ring buffer, the worker, the frame buffers, the gain control and the record file.
    std::unique_ptr<kestrix::FramePipeline> m_pPipeline;
    // GUI thread writes (first stream start, teardown after the worker ended); the worker and the
    // render library's drawing thread read.
    std::atomic<GLT_HANDLE> m_hRender{0};
    // The live view's X11 window; GUI thread writes when the panel is made or goes, worker reads.
    std::atomic<uint64_t> m_nLiveWindow{0};
    QString m_strStoragePath;

    // Readout texts on their way from the worker to the panel: the worker stores the newest ones
    // and posts one update while none is pending, so a busy GUI never piles up updates.
    std::mutex m_readoutLock;                    // guards m_readouts
    kestrix::ReadoutTexts m_readouts{};          // worker writes, GUI reads
    std::atomic<bool> m_bReadoutsPosted{false};  // worker sets, GUI clears

    bool m_bTornDown = false;
};

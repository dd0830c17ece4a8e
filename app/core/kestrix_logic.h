// KestrixLogic: what the main window decides, for any front-end. It owns everything that lives as
// long as the program: the connection settings, the camera link state, the frame pipeline (ring
// buffer, worker, frame buffers, gain control, record file) and the render handle, and it tears
// them down in a fixed order when the window closes. The front-end derives from it, shows template
// 102 and menu 131, and supplies the hooks below.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "camera_link.h"
#include "dialog_hooks.h"
#include "frame_pipeline.h"

namespace kestrix {

class DisplayLogic;

class KestrixLogic : public FrameSink, public DialogHooks {
  public:
    // Initialises the SDK and makes the pipeline; the storage folder starts at the default.
    KestrixLogic();
    ~KestrixLogic() override;
    KestrixLogic(const KestrixLogic&) = delete;
    KestrixLogic& operator=(const KestrixLogic&) = delete;

    void OnSysCommand(int id);
    void OnMenuCommand(int id);
    // The teardown; safe to run more than once and however the window ends. The front-end runs it
    // at the latest in its destructor, while its hooks still work.
    void OnClose();

    // --- camera link ---------------------------------------------------------------------------
    bool LoginCamera();
    bool StartRealPlay();
    void DisconnectCamera();
    // The SDK ended the stream of `playHandle` by itself (GUI thread): when it is still the
    // running stream, the disconnect path runs and one message says the camera is gone.
    void OnCameraLost(int32_t playHandle);
    bool InitRender();
    // The render library's overlay callback: `user` is the main window's logic.
    static void DrawCallback(void* user, int32_t subPort, int32_t kind, int32_t width,
                             int32_t height, int32_t reserved);
    void DrawCentreBox();

    // --- settings, for the connection and storage path dialogs -----------------------------------
    const std::string& CameraIP() const { return m_strCameraIP; }
    const std::string& UserName() const { return m_strUserName; }
    const std::string& Password() const { return m_strPassword; }
    int32_t Port() const { return m_nPort; }
    void SetCameraIP(std::string ip) { m_strCameraIP = std::move(ip); }
    void SetUserName(std::string user) { m_strUserName = std::move(user); }
    void SetPassword(std::string password) { m_strPassword = std::move(password); }
    void SetPort(int32_t port) { m_nPort = port; }
    const std::string& StoragePath() const { return m_strStoragePath; }
    void SetStoragePath(std::string path);
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
    // Why the running recording's file could not be created; nothing when it is open.
    std::optional<FileFailure> RecordFileFailure() const;
    void SetHighToLow(bool on);
    void SetCenterAndTemp(bool on);

    // --- frame sink (worker thread); nothing here waits for the GUI thread ----------------------
    void UpdateReadouts(const ReadoutUpdate& update) override;
    void ShowLiveFrame(const DisplayFrame& frame, const uint8_t* gray) override;
    void ShowNotice(const char* text) override;
    void StreamEnded(int32_t playHandle) override;

    FramePipeline* Pipeline() const { return m_pPipeline.get(); }
    int32_t RealPlayHandle() const { return m_lRealPlayHandle; }
    GLT_HANDLE RenderHandle() const { return m_hRender.load(); }

  protected:
    // --- the front-end's hooks ------------------------------------------------------------------
    // Runs `task` on the GUI thread later; callable from any thread, never waits. Tasks still
    // pending when the window goes are dropped.
    virtual void Post(std::function<void()> task) = 0;
    // The modal dialogs of the menu commands; each returns when its dialog is closed.
    virtual void RunConnectDialog() = 0;
    virtual void RunStoragePathDialog() = 0;
    virtual void RunAboutBox() = 0;
    // The display panel, null before it is made and after the teardown freed it.
    virtual DisplayLogic* Panel() = 0;
    // Frees the display panel; the last step of the teardown.
    virtual void DestroyPanel() = 0;

    // Shows the wait cursor over the program (on) or takes it away again (off); the logic
    // brackets every camera call on the GUI thread with it, since one can wait for seconds.
    virtual void ShowWaitCursor(bool /*on*/) {}

    // The live view's native window, for the render library; the front-end sets it when the panel
    // is made.
    void SetLiveWindow(uint64_t window) { m_nLiveWindow.store(window); }
    void SetStatusText(std::string_view text);
    // The newest readout texts into the panel (GUI thread).
    void ApplyReadouts();

  private:
    // Runs one camera call under the wait cursor and returns its result.
    template <typename Call>
    auto CameraCall(Call call) {
        struct Waiting {
            KestrixLogic* logic;
            ~Waiting() { logic->ShowWaitCursor(false); }
        } waiting{this};
        ShowWaitCursor(true);
        return call();
    }

    int32_t m_lUserID = -1;
    int32_t m_lRealPlayHandle = -1;
    std::string m_strCameraIP = "192.168.1.64";
    int32_t m_nPort = 8000;
    std::string m_strUserName = "admin";
    std::string m_strPassword = "qbxwz70413";
    std::string m_strStoragePath;

    // The ring buffer, the worker, the frame buffers, the gain control and the record file.
    std::unique_ptr<FramePipeline> m_pPipeline;
    // GUI thread writes (first stream start, teardown after the worker ended); the worker and the
    // render library's drawing thread read.
    std::atomic<GLT_HANDLE> m_hRender{0};
    // The live view's native window; GUI thread writes when the panel is made or goes, worker
    // reads.
    std::atomic<uint64_t> m_nLiveWindow{0};

    // Readout texts on their way from the worker to the panel: the worker stores the newest ones
    // and posts one update while none is pending, so a busy GUI never piles up updates.
    std::mutex m_readoutLock;                    // guards m_readouts
    ReadoutTexts m_readouts{};                   // worker writes, GUI reads
    std::atomic<bool> m_bReadoutsPosted{false};  // worker sets, GUI clears

    bool m_bTornDown = false;
};

}  // namespace kestrix

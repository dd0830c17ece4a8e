// The main window's decisions: the menu commands, the camera link and the teardown.
#include "kestrix_logic.h"

#include "dialog_templates.h"
#include "display_logic.h"
#include "settings_files.h"

namespace kestrix {

KestrixLogic::KestrixLogic() : m_strStoragePath(DefaultStoragePath()) {
    TLNK_Init();
    // The pipeline brings the ring buffer's two events.
    m_pPipeline = std::make_unique<FramePipeline>(this);
    m_pPipeline->SetStoragePath(m_strStoragePath);
}

KestrixLogic::~KestrixLogic() = default;

void KestrixLogic::OnSysCommand(int id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) RunAboutBox();
}

void KestrixLogic::OnMenuCommand(int id) {
    switch (id) {
        case ID_SETTING_RAWDATAPATH:
            RunStoragePathDialog();
            break;
        case ID_CAMERA_EXIT:
            OnClose();
            EndDialog(false);
            break;
        case ID_CAMERA_CONNECT:
            RunConnectDialog();
            break;
        case ID_CAMERA_DISCONNECT:
            DisconnectCamera();
            break;
        default:
            break;
    }
}

void KestrixLogic::OnClose() {
    if (m_bTornDown) return;
    m_bTornDown = true;
    // The stream stops first, so the SDK's thread no longer pushes; then the worker ends, before
    // anything it uses goes. Its last readouts are posted, never waited for, so the join is safe.
    DisconnectCamera();
    if (m_pPipeline) m_pPipeline->StopWorker();
    LinkReleaseRender(m_hRender);
    if (m_pPipeline) {
        m_pPipeline->m_bRecording.store(false);
        m_pPipeline->SwitchRecordFile();
        // The ring buffer with its events, the frame buffers and the gain control's work block.
        m_pPipeline.reset();
    }
    m_nLiveWindow.store(0);
    DestroyPanel();
}

// --- camera link ---------------------------------------------------------------------------------

bool KestrixLogic::LoginCamera() {
    DisconnectCamera();
    m_lUserID =
        CameraCall([&] { return LinkLogin(m_strCameraIP, m_nPort, m_strUserName, m_strPassword); });
    if (m_lUserID < 0) {
        const uint32_t error = TLNK_GetLastError();
        ShowMessageBox("Connect is failed... Err = " + std::to_string(error) + " ");
        return false;
    }
    SetStatusText(m_strCameraIP + " is connecting");
    return true;
}

bool KestrixLogic::StartRealPlay() {
    if (m_lUserID < 0 || !m_pPipeline) return false;
    if (m_lRealPlayHandle >= 0) {
        CameraCall([&] { return TLNK_StopRealPlay(m_lRealPlayHandle); });
        m_lRealPlayHandle = -1;
    }
    // Ends an earlier worker before the ring is emptied, then starts the new one, so that it runs
    // before the first payload arrives. Without memory or a thread for it there is no stream.
    if (!m_pPipeline->StartWorker()) {
        ShowMessageBox("Get Stream is failed..");
        return false;
    }
    m_lRealPlayHandle = CameraCall([&] { return LinkStartStream(m_lUserID, m_pPipeline.get()); });
    if (m_lRealPlayHandle < 0) {
        ShowMessageBox("Get Stream is failed..");
        return false;
    }
    return InitRender();
}

bool KestrixLogic::InitRender() {
    return LinkInitRender(m_hRender, &DrawCallback, this);
}

void KestrixLogic::DisconnectCamera() {
    if (DisplayLogic* panel = Panel()) panel->EndFocusHold();
    if (m_lRealPlayHandle >= 0) {
        CameraCall([&] { return TLNK_StopRealPlay(m_lRealPlayHandle); });
        m_lRealPlayHandle = -1;
    }
    if (m_lUserID >= 0) {
        CameraCall([&] { return TLNK_Logout(m_lUserID); });
        m_lUserID = -1;
    }
    if (GetRecording()) {
        SetRecording(false);
        SwitchRecordFile();
        if (DisplayLogic* panel = Panel()) panel->UpdateRecordButtonText();
    }
    SetStatusText("Disconnected..");
}

void KestrixLogic::OnCameraLost(int32_t playHandle) {
    // A stream the user has stopped or replaced meanwhile is no news.
    if (playHandle < 0 || playHandle != m_lRealPlayHandle) return;
    DisconnectCamera();
    ShowMessageBox("Camera connection is lost..");
}

void KestrixLogic::DrawCallback(void* user, int32_t, int32_t, int32_t, int32_t, int32_t) {
    if (user) static_cast<KestrixLogic*>(user)->DrawCentreBox();
}

void KestrixLogic::DrawCentreBox() {
    LinkDrawCentreBox(m_hRender.load());
}

// --- settings ------------------------------------------------------------------------------------

void KestrixLogic::SetStoragePath(std::string path) {
    m_strStoragePath = std::move(path);
    if (m_pPipeline) m_pPipeline->SetStoragePath(m_strStoragePath);
}

void KestrixLogic::ReadStoragePathFile() {
    // An empty file names no folder: the default stays, as without the file.
    auto line = ReadSettingLine(StoragePathFilePath());
    if (line && !line->empty()) SetStoragePath(std::move(*line));
}

// --- panel operations ----------------------------------------------------------------------------

void KestrixLogic::SetRecording(bool recording) {
    if (m_pPipeline) m_pPipeline->m_bRecording.store(recording);
}

bool KestrixLogic::GetRecording() const {
    return m_pPipeline && m_pPipeline->m_bRecording.load();
}

void KestrixLogic::FocusControl(uint32_t command, uint32_t stop) {
    if (m_lUserID >= 0) {
        CameraCall([&] { return TLNK_PTZControl_Other(m_lUserID, 1, command, stop); });
    }
}

void KestrixLogic::StartSnapshots(int32_t count) {
    if (m_pPipeline) m_pPipeline->StartSnapshots(count);
}

void KestrixLogic::MarkRecordDue() {
    if (m_pPipeline) m_pPipeline->MarkRecordDue();
}

void KestrixLogic::SetAgcMode(int32_t mode) {
    if (m_pPipeline) m_pPipeline->SetAgcMode(mode);
}

void KestrixLogic::SwitchRecordFile() {
    if (m_pPipeline) m_pPipeline->SwitchRecordFile();
}

std::optional<FileFailure> KestrixLogic::RecordFileFailure() const {
    return m_pPipeline ? m_pPipeline->RecordFileFailure() : std::nullopt;
}

void KestrixLogic::SetHighToLow(bool on) {
    if (m_pPipeline) m_pPipeline->m_bHighToLow.store(on);
}

void KestrixLogic::SetCenterAndTemp(bool on) {
    if (m_pPipeline) m_pPipeline->m_bCenterAndTemp.store(on);
}

void KestrixLogic::SetStatusText(std::string_view text) {
    SetControlText(IDC_STATUS, text);
}

// --- frame sink ----------------------------------------------------------------------------------

void KestrixLogic::UpdateReadouts(const ReadoutUpdate& update) {
    {
        std::lock_guard lock(m_readoutLock);
        m_readouts = update.texts;
    }
    if (!m_bReadoutsPosted.exchange(true)) Post([this] { ApplyReadouts(); });
}

void KestrixLogic::ApplyReadouts() {
    ReadoutTexts texts;
    {
        std::lock_guard lock(m_readoutLock);
        m_bReadoutsPosted.store(false);
        texts = m_readouts;
    }
    DisplayLogic* panel = Panel();
    if (!panel) return;
    for (int i = 0; i < kReadoutCount; ++i) {
        panel->SetControlText(kReadoutControlIds[i], texts.text[i]);
    }
}

void KestrixLogic::ShowLiveFrame(const DisplayFrame& frame, const uint8_t* /*gray*/) {
    LinkShowFrame(m_hRender.load(), frame, m_nLiveWindow.load());
}

void KestrixLogic::StreamEnded(int32_t playHandle) {
    Post([this, playHandle] { OnCameraLost(playHandle); });
}

void KestrixLogic::ShowNotice(const char* text) {
    Post([this, message = std::string(text)] {
        if (DisplayLogic* panel = Panel()) panel->EndFocusHold();
        ShowMessageBox(message);
    });
}

}  // namespace kestrix

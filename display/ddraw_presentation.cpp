// Showing frames: DisplayFrame and RefreshDisplay. For now they follow the window and keep the
// frame shape; the frame surfaces, the copy and the blit to the screen come with the pixel
// formats.
#include "ddraw_engine.h"

namespace orvenna {

int32_t DDrawDisplayEngine::DisplayFrame(tagORVD_FRAME* frame) {
    if (frame == nullptr) return ORVD_E_PARAM;
    m_pSource = frame->pBuffer;
    if (m_geometry.dwWidth == 0 && m_geometry.dwHeight == 0) {
        m_geometry = {frame->dwWidth, frame->dwHeight, frame->dwFormat};
    }
    m_frame = {frame->dwWidth, frame->dwHeight, frame->dwFormat};

    const int32_t tracked = TrackWindow();
    if (tracked != ORVD_OK) return tracked;

    if (m_geometry.dwWidth != m_frame.dwWidth || m_geometry.dwHeight != m_frame.dwHeight ||
        m_geometry.dwFormat != m_frame.dwFormat) {
        m_geometry = m_frame;
        for (auto& set : m_pDeviceSets) {
            if (set) set->bPrepared = false;
        }
    }
    const DisplayDeviceTable& table = DeviceTable();
    for (DWORD i = 0; i < table.dwCount && i < kMaxDisplayDevices; ++i) {
        if (!m_pDeviceSets[i]) return ORVD_E_NOT_READY;
    }
    return ORVD_OK;
}

int32_t DDrawDisplayEngine::RefreshDisplay() { return TrackWindow(); }

}  // namespace orvenna

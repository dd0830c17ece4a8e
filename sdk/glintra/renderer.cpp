// The render handle: frame hand-off, sub-port and callback bookkeeping, and the drawing thread.
#include "renderer.h"

#include <utility>

namespace glintra {

namespace {

std::atomic<bool> g_shmDisabled{false};

// What the overlay callback running on this thread draws into.
struct OverlayTarget {
    GLT_HANDLE handle = 0;
    OverlayCanvas* canvas = nullptr;
};
thread_local OverlayTarget t_overlay;

constexpr auto kOpenRetryPause = std::chrono::seconds(1);

}  // namespace

Renderer::Renderer(GLT_HANDLE handle) : m_handle(handle) {}

Renderer::~Renderer() {
    Stop();
}

void Renderer::DisableShm(bool disabled) {
    g_shmDisabled = disabled;
}

bool Renderer::Init(int32_t format, int32_t scaleFilter) {
    if (format != GLT_FORMAT_GREY_UYVY) return false;
    if (scaleFilter != GLT_SCALE_NEAREST && scaleFilter != GLT_SCALE_BILINEAR) return false;
    {
        std::lock_guard lock(m_frameLock);
        m_bilinear = scaleFilter == GLT_SCALE_BILINEAR;
    }
    Wake();
    return true;
}

bool Renderer::AddSubPort(int32_t subPort) {
    if (subPort != 0) return false;
    std::lock_guard lock(m_frameLock);
    m_subPortAdded = true;
    return true;
}

bool Renderer::DelSubPort(int32_t subPort) {
    if (subPort != 0) return false;
    {
        std::lock_guard lock(m_frameLock);
        if (!m_subPortAdded) return false;
        m_subPortAdded = false;
        m_window = 0;
    }
    {
        std::lock_guard lock(m_callbackLock);
        m_callback = nullptr;
        m_user = nullptr;
    }
    Wake();
    return true;
}

bool Renderer::SetCallBack(int32_t subPort, int32_t kind, GLT_DRAWCALLBACK callback, void* user) {
    if (subPort != 0 || kind != GLT_CALLBACK_OVERLAY) return false;
    {
        std::lock_guard lock(m_frameLock);
        if (!m_subPortAdded) return false;
    }
    std::lock_guard lock(m_callbackLock);
    m_callback = callback;
    m_user = callback ? user : nullptr;
    return true;
}

bool Renderer::UpdateFrame(const uint8_t* image, int32_t width, int32_t height) {
    if (!image || width < 1 || height < 1 || width > GLT_MAX_SIDE || height > GLT_MAX_SIDE) {
        return false;
    }
    {
        std::lock_guard producer(m_producerLock);
        // The copy happens outside m_frameLock, so the drawing thread waits at most for a swap.
        ExtractGrey(image, width, height, m_back);
        std::lock_guard lock(m_frameLock);
        std::swap(m_back, m_pending);
        ++m_pendingSerial;
        m_hasPicture = true;
    }
    Wake();
    return true;
}

bool Renderer::Display(int32_t subPort, uint64_t window) {
    if (subPort != 0 || window == 0) return false;
    {
        std::lock_guard lock(m_frameLock);
        if (!m_subPortAdded || !m_hasPicture) return false;
    }
    {
        std::lock_guard control(m_controlLock);
        {
            std::lock_guard lock(m_frameLock);
            if (m_stop) return false;  // checked here so that no drawer starts after Stop
        }
        if (m_drawer.joinable() && m_connectionLost) {
            JoinDrawer(m_drawer);  // its connection died; a new one is opened below
        }
        if (!m_drawer.joinable()) {
            const auto now = std::chrono::steady_clock::now();
            if (m_openFailed && now - m_lastOpenFailure < kOpenRetryPause) return false;
            std::unique_ptr<Connection> connection = OpenConnection();
            if (!connection) {
                m_openFailed = true;
                m_lastOpenFailure = now;
                return false;
            }
            m_openFailed = false;
            m_connectionLost = false;
            {
                // A new connection gets a fresh chance with every window.
                std::lock_guard lock(m_frameLock);
                m_badWindow = 0;
            }
            m_drawer = std::thread(
                [this, c = std::move(connection)]() mutable { DrawLoop(std::move(c)); });
        }
    }
    {
        std::lock_guard lock(m_frameLock);
        m_window = window;
        if (window == m_badWindow) return false;
    }
    Wake();
    return true;
}

bool Renderer::Stop() {
    if (t_overlay.canvas && t_overlay.handle == m_handle) return false;
    std::thread drawer;
    {
        std::lock_guard control(m_controlLock);
        if (m_drawer.joinable() && m_drawer.get_id() == std::this_thread::get_id()) return false;
        std::lock_guard lock(m_frameLock);
        m_stop = true;
        drawer = std::move(m_drawer);
    }
    // Joined outside m_controlLock: an overlay callback that calls GLT_Display must not wait on it.
    Wake();
    if (drawer.joinable()) JoinDrawer(drawer);
    return true;
}

void Renderer::RunOverlay(OverlayCanvas& canvas, int width, int height, int32_t dc) {
    std::lock_guard lock(m_callbackLock);
    if (!m_callback) return;
    t_overlay = {m_handle, &canvas};
    m_callback(m_user, 0, GLT_CALLBACK_OVERLAY, width, height, dc);
    t_overlay = {};
}

bool Renderer::DrawRectInCallback(GLT_HANDLE handle, const float rect[4], const float colour[4],
                                  int32_t lineWidth) {
    if (!t_overlay.canvas || t_overlay.handle != handle) return false;
    return t_overlay.canvas->DrawRect(rect, colour, lineWidth);
}

uint64_t Renderer::Presented() {
    std::lock_guard lock(m_presentedLock);
    return m_presented;
}

bool Renderer::WaitPresented(uint64_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_presentedLock);
    return m_presentedChanged.wait_for(lock, timeout, [&] { return m_presented >= count; });
}

void Renderer::DrawLoop(std::unique_ptr<Connection> connection) {
    const std::unique_ptr<Output> output =
        MakeOutput(std::move(connection), m_wakeup, !g_shmDisabled);
    if (!output) {
        m_connectionLost = true;  // the next GLT_Display tries again
        return;
    }
    const OverlayRunner overlay = [this](OverlayCanvas& canvas, int width, int height, int32_t dc) {
        RunOverlay(canvas, width, height, dc);
    };
    GreyPicture current;         // the picture being shown
    uint64_t currentSerial = 0;  // m_pendingSerial of `current`
    bool needRender = false;     // a new picture or a new size: scale, draw, present
    bool needRepaint = false;    // exposed: present the last picture again
    for (;;) {
        const Output::Events events = output->Dispatch();
        if (output->Lost()) break;
        needRepaint = needRepaint || events.repaint;
        if (events.resized && !output->RenderedAtWindowSize()) needRender = true;
        if (events.goneParent != 0) {
            std::lock_guard lock(m_frameLock);
            m_badWindow = events.goneParent;
        }

        uint64_t window = 0;
        bool bilinear = true;
        {
            std::lock_guard lock(m_frameLock);
            if (m_stop) break;
            if (m_pendingSerial != currentSerial) {
                std::swap(m_pending, current);
                currentSerial = m_pendingSerial;
                needRender = true;
            }
            window = m_subPortAdded ? m_window : 0;
            if (window == m_badWindow) window = 0;
            bilinear = m_bilinear;
        }

        if (window != output->Parent()) {
            if (window == 0) {
                output->Detach();
            } else if (output->Attach(window)) {
                needRender = true;
            } else {
                std::lock_guard lock(m_frameLock);
                m_badWindow = window;
            }
        }

        if (output->Ready() && current.width > 0 && (needRender || needRepaint)) {
            if (!needRender && output->RenderedAtWindowSize()) {
                output->Repaint();
            } else if (!output->Render(current, bilinear, overlay)) {
                // Nothing can be shown in this window: tell the caller.
                std::lock_guard lock(m_frameLock);
                m_badWindow = output->Parent();
            } else if (needRender) {
                std::lock_guard lock(m_presentedLock);
                ++m_presented;
                m_presentedChanged.notify_all();
            }
            m_presentsShared = output->Shared();
            needRender = false;
            needRepaint = false;
        }

        output->Wait();
    }
    if (output->Lost()) m_connectionLost = true;
}

}  // namespace glintra

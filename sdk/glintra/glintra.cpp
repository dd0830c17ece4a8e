// The exported C API: a table of render handles, each a Renderer with its own drawing thread.
#include "glintra.h"

#include "glintra_internal.h"
#include "renderer.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace glintra {
namespace {

// Handles are not reused until the counter wraps past 2^31 creations, so a stale handle finds
// nothing instead of someone else's renderer.
class HandleTable {
  public:
    GLT_HANDLE Create() {
        std::lock_guard lock(m_lock);
        do {
            m_next = m_next == INT32_MAX ? 1 : m_next + 1;
        } while (m_renderers.count(m_next) != 0);
        auto renderer = std::make_shared<Renderer>(m_next);
        if (!renderer->Usable()) return 0;
        m_renderers.emplace(m_next, std::move(renderer));
        return m_next;
    }
    std::shared_ptr<Renderer> Find(GLT_HANDLE handle) {
        std::lock_guard lock(m_lock);
        auto it = m_renderers.find(handle);
        return it == m_renderers.end() ? nullptr : it->second;
    }
    std::shared_ptr<Renderer> Remove(GLT_HANDLE handle) {
        std::lock_guard lock(m_lock);
        auto it = m_renderers.find(handle);
        if (it == m_renderers.end()) return nullptr;
        auto renderer = std::move(it->second);
        m_renderers.erase(it);
        return renderer;
    }

  private:
    std::mutex m_lock;  // guards both members; held only for the table operation
    std::map<GLT_HANDLE, std::shared_ptr<Renderer>> m_renderers;
    GLT_HANDLE m_next = 0;
};

// Never destroyed: a handle still open at exit keeps its drawing thread, which must not find its
// renderer freed under it by static destructors.
HandleTable& Handles() {
    static auto* table = new HandleTable;  // NOLINT(cppcoreguidelines-owning-memory)
    return *table;
}

int32_t Result(bool ok) {
    return ok ? 1 : 0;
}

}  // namespace

namespace testing {

void DisableShm(bool disabled) {
    Renderer::DisableShm(disabled);
}

uint64_t Presented(GLT_HANDLE handle) {
    auto renderer = Handles().Find(handle);
    return renderer ? renderer->Presented() : 0;
}

bool WaitPresented(GLT_HANDLE handle, uint64_t count, int timeoutMs) {
    auto renderer = Handles().Find(handle);
    return renderer && renderer->WaitPresented(count, std::chrono::milliseconds(timeoutMs));
}

bool PresentsShared(GLT_HANDLE handle) {
    auto renderer = Handles().Find(handle);
    return renderer && renderer->PresentsShared();
}

}  // namespace testing
}  // namespace glintra

using glintra::Handles;
using glintra::Result;

extern "C" {

GLT_API GLT_HANDLE GLT_CreateHandle(void) {
    try {
        return Handles().Create();
    } catch (...) {
        return 0;
    }
}

GLT_API int32_t GLT_Init(GLT_HANDLE handle, int32_t format, int32_t, int32_t scaleFilter) {
    auto renderer = Handles().Find(handle);
    return Result(renderer && renderer->Init(format, scaleFilter));
}

GLT_API int32_t GLT_AddSubPort(GLT_HANDLE handle, int32_t subPort, int32_t) {
    auto renderer = Handles().Find(handle);
    return Result(renderer && renderer->AddSubPort(subPort));
}

GLT_API int32_t GLT_SetCallBack(GLT_HANDLE handle, int32_t subPort, int32_t kind,
                                GLT_DRAWCALLBACK callback, void* user) {
    auto renderer = Handles().Find(handle);
    return Result(renderer && renderer->SetCallBack(subPort, kind, callback, user));
}

GLT_API int32_t GLT_UpdateFrameData(GLT_HANDLE handle, const uint8_t* image, int32_t width,
                                    int32_t height, int32_t) {
    auto renderer = Handles().Find(handle);
    try {
        return Result(renderer && renderer->UpdateFrame(image, width, height));
    } catch (...) {
        return 0;  // out of memory for a picture of a new size
    }
}

GLT_API int32_t GLT_Display(GLT_HANDLE handle, int32_t subPort, uint64_t window) {
    auto renderer = Handles().Find(handle);
    try {
        return Result(renderer && renderer->Display(subPort, window));
    } catch (...) {
        return 0;  // the drawing thread could not be started
    }
}

GLT_API int32_t GLT_DrawRect(GLT_HANDLE handle, const float rect[4], const float colour[4],
                             int32_t lineWidth) {
    if (!rect || !colour) return 0;
    return Result(glintra::Renderer::DrawRectInCallback(handle, rect, colour, lineWidth));
}

GLT_API int32_t GLT_DelSubPort(GLT_HANDLE handle, int32_t subPort) {
    auto renderer = Handles().Find(handle);
    return Result(renderer && renderer->DelSubPort(subPort));
}

GLT_API int32_t GLT_DestroyHandle(GLT_HANDLE handle) {
    auto renderer = Handles().Find(handle);
    if (!renderer || !renderer->Stop()) return 0;
    Handles().Remove(handle);
    return 1;
}

}  // extern "C"

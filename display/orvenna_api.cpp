// The nine exports: each takes the library lock for its whole duration, checks the handle,
// looks the slot up and forwards to the slot's engine. No exception leaves an export.
#include <memory>
#include <mutex>

#include "handle_table.h"
#include "orvenna.h"

namespace orvenna {

namespace {

// Runs `operation` on the handle's engine under the library lock, or answers `no_engine` when
// the slot has none; every failure inside becomes ORVD_E_FAIL.
template <typename Operation>
int32_t WithEngine(int32_t handle, int32_t no_engine, Operation operation) {
    try {
        std::lock_guard<std::recursive_mutex> guard(LibraryLock());
        if (handle < 0 || handle >= DisplayHandleTable::kSlots) return ORVD_E_HANDLE;
        if (LibraryClosed()) return ORVD_E_NOT_READY;
        DisplayHandleSlot* slot = HandleTable().Lookup(handle);
        if (slot == nullptr || !slot->pEngine) return no_engine;
        // Held for the call: the DC callback may release the handle from inside it.
        const std::shared_ptr<DisplayEngine> engine = slot->pEngine;
        const int32_t result = operation(*engine);
        return engine->Released() ? ORVD_E_NOT_READY : result;
    } catch (...) {
        return ORVD_E_FAIL;
    }
}

}  // namespace

}  // namespace orvenna

using orvenna::DisplayEngine;
using orvenna::WithEngine;

extern "C" {

ORVD_API int32_t ORVD_CALL ORVD_InitByDisEngine(int32_t* handle_out, tagORVD_ENGINE engine) {
    try {
        std::lock_guard<std::recursive_mutex> guard(orvenna::LibraryLock());
        if (orvenna::LibraryClosed()) return ORVD_E_NOT_READY;
        return orvenna::HandleTable().InitByDisEngine(handle_out, static_cast<int32_t>(engine));
    } catch (...) {
        return ORVD_E_FAIL;
    }
}

ORVD_API int32_t ORVD_CALL ORVD_SetDisplayWindow(int32_t handle, ORVD_HWND hwnd) {
    return WithEngine(handle, ORVD_E_NOT_READY,
                      [&](DisplayEngine& engine) { return engine.SetDisplayWindow(hwnd); });
}

ORVD_API int32_t ORVD_CALL ORVD_SetDisplayRect(int32_t handle, struct tagRECT* rect) {
    return WithEngine(handle, ORVD_E_NOT_READY,
                      [&](DisplayEngine& engine) { return engine.SetDisplayRect(rect); });
}

ORVD_API int32_t ORVD_CALL ORVD_DisplayFrame(int32_t handle, tagORVD_FRAME* frame) {
    return WithEngine(handle, ORVD_E_NOT_READY,
                      [&](DisplayEngine& engine) { return engine.DisplayFrame(frame); });
}

ORVD_API int32_t ORVD_CALL ORVD_RefreshDisplay(int32_t handle) {
    return WithEngine(handle, ORVD_E_NOT_READY,
                      [](DisplayEngine& engine) { return engine.RefreshDisplay(); });
}

ORVD_API int32_t ORVD_CALL ORVD_Release(int32_t handle) {
    try {
        std::lock_guard<std::recursive_mutex> guard(orvenna::LibraryLock());
        if (handle < 0 || handle >= orvenna::DisplayHandleTable::kSlots) return ORVD_E_HANDLE;
        if (orvenna::LibraryClosed()) return ORVD_E_NOT_READY;
        orvenna::HandleTable().Lookup(handle);  // a never-used index is occupied, then released
        orvenna::HandleTable().Release(handle);
        return ORVD_OK;
    } catch (...) {
        return ORVD_E_FAIL;
    }
}

ORVD_API int32_t ORVD_CALL ORVD_SetRotationAngle(int32_t handle, uint32_t angle) {
    return WithEngine(handle, ORVD_E_NOT_READY,
                      [&](DisplayEngine& engine) { return engine.SetRotationAngle(angle); });
}

ORVD_API int32_t ORVD_CALL ORVD_RegisterDCCallback(int32_t handle, ORVD_DCCALLBACK callback,
                                                   intptr_t user) {
    return WithEngine(handle, ORVD_OK, [&](DisplayEngine& engine) {
        return engine.RegisterDCCallback(callback, user, handle);
    });
}

ORVD_API int32_t ORVD_CALL ORVD_SetDisplayMode(int32_t handle, uint32_t mode) {
    return WithEngine(handle, ORVD_OK,
                      [&](DisplayEngine& engine) { return engine.SetDisplayMode(mode); });
}

}  // extern "C"

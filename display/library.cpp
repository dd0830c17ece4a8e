// The library's process-wide objects in one place, so that unloading releases them in order:
// first every handle slot (the engines release their surfaces), then the device table.
#include "device_table.h"
#include "handle_table.h"
#include "orvenna_testing.h"
#include "platform/backend.h"

namespace orvenna {

namespace {

// Set when the process ends with the library still loaded (Windows: DllMain sees the process
// detach of a terminating process). By then every other thread is gone, DirectDraw's own among
// them, so releasing DirectDraw objects could wait for them forever; the system reclaims it all.
bool g_bProcessEnding = false;

struct Library {
    std::recursive_mutex lock;   // held by every export for its whole duration
    DisplayDeviceTable devices;  // library lock
    DisplayHandleTable handles;  // library lock

    Library() = default;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() {
        std::lock_guard<std::recursive_mutex> guard(lock);
        handles.ReleaseAll();
        TearDownDevices();
    }
};

Library* const g_pLibrary = new Library;

// Unloading destroys the library, unless the process is ending: then nothing is released.
struct LibraryUnloader {
    LibraryUnloader() = default;
    LibraryUnloader(const LibraryUnloader&) = delete;
    LibraryUnloader& operator=(const LibraryUnloader&) = delete;
    ~LibraryUnloader() {
        if (!g_bProcessEnding) delete g_pLibrary;
    }
} g_unloader;

Library& g_library = *g_pLibrary;

}  // namespace

void AbandonAtProcessEnd() {
    g_bProcessEnding = true;
}

std::recursive_mutex& LibraryLock() {
    return g_library.lock;
}
DisplayHandleTable& HandleTable() {
    return g_library.handles;
}
DisplayDeviceTable& DeviceTable() {
    return g_library.devices;
}

namespace testing {

void ResetLibraryForTesting() {
    std::lock_guard<std::recursive_mutex> guard(g_library.lock);
    g_library.handles.ReleaseAll();
    TearDownDevices();
}

#if !defined(_WIN32)
void UseBackendForTesting(std::shared_ptr<platform::Backend> backend) {
    std::lock_guard<std::recursive_mutex> guard(g_library.lock);
    g_library.handles.ReleaseAll();
    TearDownDevices();
    platform::SetBackendForTesting(std::move(backend));
}
#endif

DisplayEngine* EngineForTesting(int32_t handle) {
    std::lock_guard<std::recursive_mutex> guard(g_library.lock);
    if (handle < 0 || handle >= DisplayHandleTable::kSlots) return nullptr;
    const DisplayHandleSlot* slot = g_library.handles.Slot(handle);
    return slot != nullptr ? slot->pEngine.get() : nullptr;
}

uint8_t SlotStateForTesting(int32_t handle) {
    std::lock_guard<std::recursive_mutex> guard(g_library.lock);
    if (handle < 0 || handle >= DisplayHandleTable::kSlots) return 0;
    return g_library.handles.State(handle);
}

}  // namespace testing

}  // namespace orvenna

// The library's process-wide objects in one place, so that unloading releases them in order:
// first every handle slot (the engines release their surfaces), then the device table.
#include <new>

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
    bool bClosed = false;        // library lock: unloaded; the exports answer "not ready"

    Library() = default;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    // Releases what the tables hold, under the lock, and closes the library. The object itself
    // (the lock above all) is never destroyed: a thread may still be inside an export, or about
    // to enter one, while the process ends.
    void Close() {
        std::lock_guard<std::recursive_mutex> guard(lock);
        handles.ReleaseAll();
        TearDownDevices();
        bClosed = true;
    }
};

// In static storage, not on the heap: nothing of it is left once its tables are released.
alignas(Library) unsigned char g_libraryStorage[sizeof(Library)];
Library& g_library = *new (g_libraryStorage) Library;

// Unloading releases the library's objects, unless the process is ending: then nothing is
// released.
struct LibraryUnloader {
    LibraryUnloader() = default;
    LibraryUnloader(const LibraryUnloader&) = delete;
    LibraryUnloader& operator=(const LibraryUnloader&) = delete;
    ~LibraryUnloader() {
        if (!g_bProcessEnding) g_library.Close();
    }
} g_unloader;

}  // namespace

void AbandonAtProcessEnd() {
    g_bProcessEnding = true;
}

std::recursive_mutex& LibraryLock() {
    return g_library.lock;
}
bool LibraryClosed() {
    return g_library.bClosed;
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

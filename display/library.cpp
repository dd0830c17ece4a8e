// The library's process-wide objects in one place, so that unloading releases them in order:
// first every handle slot (the engines release their surfaces), then the device table.
#include "device_table.h"
#include "handle_table.h"
#include "orvenna_testing.h"
#include "platform/backend.h"

namespace orvenna {

namespace {

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

Library g_library;

}  // namespace

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

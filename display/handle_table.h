// The process-wide table of display handles: 500 slots, each null or owning one slot object,
// and a state byte per index. Only touched under the library lock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "display_engine.h"
#include "orvenna.h"

namespace orvenna {

// State bytes of the handle table.
enum SlotState : uint8_t {
    kSlotNeverUsed = 1,  // never used (also after unload)
    kSlotEngine = 2,     // filled by ORVD_InitByDisEngine
    kSlotOnDemand = 3,   // filled on demand by a lookup, without an engine
    kSlotReleased = 4,   // released
};

// A handle slot: holds at most one engine (none when it was filled on demand). An export holds
// the engine too while it runs, so that a release from the DC callback cannot free it under it.
struct DisplayHandleSlot {
    std::shared_ptr<DisplayEngine> pEngine;
};

class DisplayHandleTable {
  public:
    static constexpr int32_t kSlots = ORVD_MAX_HANDLES;

    DisplayHandleTable();

    // ORVD_InitByDisEngine without the lock: creates the slot and its engine.
    int32_t InitByDisEngine(int32_t* handle_out, int32_t engine_kind);
    // The slot of an in-range handle: the stored one; a new one without an engine (state 3) for
    // a null pointer that was never released; null for a released index.
    DisplayHandleSlot* Lookup(int32_t handle);
    // ORVD_Release without the lock: releases the engine's surfaces (or, while a call on it runs,
    // marks it released and leaves them to that call), discards the slot, state 4.
    void Release(int32_t handle);
    // Library unload: releases every slot and sets every state byte back to 1.
    void ReleaseAll();

    uint8_t State(int32_t handle) const { return m_states[static_cast<size_t>(handle)]; }
    const DisplayHandleSlot* Slot(int32_t handle) const {
        return m_pSlots[static_cast<size_t>(handle)].get();
    }

  private:
    std::array<std::unique_ptr<DisplayHandleSlot>, kSlots> m_pSlots;
    std::array<uint8_t, kSlots> m_states;
};

// The library's objects (library.cpp): the lock held by every export, the handle table.
std::recursive_mutex& LibraryLock();
// The library has been unloaded (its objects released): the exports do nothing more. Lock held.
bool LibraryClosed();
// The process is ending: unloading then leaves the engines and devices as they are.
void AbandonAtProcessEnd();
DisplayHandleTable& HandleTable();

}  // namespace orvenna

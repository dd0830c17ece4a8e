// Handing out, looking up and releasing display handles.
#include "handle_table.h"

#include <new>

#include "ddraw_engine.h"
#include "orvenna_testing.h"

namespace orvenna {

namespace {

// Test hooks: how many of the next slot / engine allocations fail (orvenna_testing.h).
int g_nFailSlotAllocations = 0;    // library lock
int g_nFailEngineAllocations = 0;  // library lock

std::unique_ptr<DisplayHandleSlot> NewSlot() {
    if (g_nFailSlotAllocations > 0) {
        --g_nFailSlotAllocations;
        return nullptr;
    }
    return std::unique_ptr<DisplayHandleSlot>(new (std::nothrow) DisplayHandleSlot);
}

}  // namespace

namespace testing {

void FailAllocationsForTesting(int slots, int engines) {
    std::lock_guard<std::recursive_mutex> guard(LibraryLock());
    g_nFailSlotAllocations = slots;
    g_nFailEngineAllocations = engines;
}

}  // namespace testing

DisplayHandleTable::DisplayHandleTable() {
    m_states.fill(kSlotNeverUsed);
}

int32_t DisplayHandleTable::InitByDisEngine(int32_t* handle_out, int32_t engine_kind) {
    if (handle_out == nullptr) return ORVD_E_PARAM;

    int32_t index = -1;
    for (int32_t i = 0; i < kSlots; ++i) {
        if (m_pSlots[i]) continue;
        auto slot = NewSlot();
        if (!slot) continue;  // this index stays free; try the next one
        m_pSlots[i] = std::move(slot);
        m_states[i] = kSlotEngine;
        index = i;
        break;
    }
    if (index < 0) return ORVD_E_FAIL;

    int32_t result = ORVD_OK;
    switch (engine_kind) {
        case ORVD_ENGINE_DDRAW: {
            std::unique_ptr<DDrawDisplayEngine> engine;
            if (g_nFailEngineAllocations > 0) {
                --g_nFailEngineAllocations;
            } else {
                engine = std::unique_ptr<DDrawDisplayEngine>(new (std::nothrow) DDrawDisplayEngine);
            }
            if (!engine) {
                result = ORVD_E_FAIL;
                break;
            }
            // A failed DirectDraw set-up leaves a working handle; it shows in DisplayFrame.
            engine->Init();
            m_pSlots[index]->pEngine = std::move(engine);
            break;
        }
        case ORVD_ENGINE_KIND1:
        case ORVD_ENGINE_KIND2:
            result = ORVD_E_UNSUPPORTED;
            break;
        default:
            result = ORVD_E_FAIL;
            break;
    }
    if (result != ORVD_OK) {
        m_pSlots[index].reset();
        m_states[index] = kSlotReleased;
        return result;
    }
    *handle_out = index;
    return ORVD_OK;
}

DisplayHandleSlot* DisplayHandleTable::Lookup(int32_t handle) {
    auto& slot = m_pSlots[static_cast<size_t>(handle)];
    if (slot) return slot.get();
    if (m_states[static_cast<size_t>(handle)] == kSlotReleased) return nullptr;
    slot = NewSlot();
    if (slot) m_states[static_cast<size_t>(handle)] = kSlotOnDemand;
    return slot.get();
}

void DisplayHandleTable::Release(int32_t handle) {
    auto& slot = m_pSlots[static_cast<size_t>(handle)];
    if (slot && slot->pEngine) slot->pEngine->ReleaseSurfaces();
    slot.reset();
    m_states[static_cast<size_t>(handle)] = kSlotReleased;
}

void DisplayHandleTable::ReleaseAll() {
    for (int32_t i = 0; i < kSlots; ++i) {
        auto& slot = m_pSlots[i];
        if (slot && slot->pEngine) slot->pEngine->ReleaseSurfaces();
        slot.reset();
        m_states[i] = kSlotNeverUsed;
    }
}

}  // namespace orvenna

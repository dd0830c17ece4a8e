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

// Puts an engine of `engine_kind` into `slot`. returns: 0, ORVD_E_UNSUPPORTED or ORVD_E_FAIL;
// throws what making the engine throws.
int32_t CreateEngine(DisplayHandleSlot& slot, int32_t engine_kind) {
    switch (engine_kind) {
        case ORVD_ENGINE_DDRAW: {
            if (g_nFailEngineAllocations > 0) {
                --g_nFailEngineAllocations;
                return ORVD_E_FAIL;
            }
            auto engine = std::make_shared<DDrawDisplayEngine>();
            // A failed DirectDraw set-up leaves a working handle; it shows in DisplayFrame.
            engine->Init();
            slot.pEngine = std::move(engine);
            return ORVD_OK;
        }
        case ORVD_ENGINE_KIND1:
        case ORVD_ENGINE_KIND2:
            return ORVD_E_UNSUPPORTED;
        default:
            return ORVD_E_FAIL;
    }
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
    try {
        result = CreateEngine(*m_pSlots[index], engine_kind);
    } catch (...) {
        result = ORVD_E_FAIL;
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
    if (slot && slot->pEngine) {
        slot->pEngine->MarkReleased();
        // Held elsewhere only by a call on it that is still running (its DC callback released
        // the handle): the surfaces go with the engine when that call returns.
        if (slot->pEngine.use_count() == 1) slot->pEngine->ReleaseSurfaces();
    }
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

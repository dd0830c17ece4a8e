// Test-only entry points into the library: not exported from liborvenna.so, linked by the tests
// through the engine library. The public API never selects a backend.
#pragma once

#include <cstdint>
#include <memory>

#include "display_engine.h"

namespace orvenna {

namespace platform {
class Backend;
}

namespace testing {

// Releases every handle (state bytes back to 1) and the device table, as an unload would.
void ResetLibraryForTesting();
// ResetLibraryForTesting, then puts `backend` in place (null: back to the x11 backend).
void UseBackendForTesting(std::shared_ptr<platform::Backend> backend);
// The engine in a handle's slot, or null. Use it only while no other thread calls the library.
DisplayEngine* EngineForTesting(int32_t handle);
// The state byte of a handle (1 never used, 2 engine, 3 on demand, 4 released); 0 out of range.
uint8_t SlotStateForTesting(int32_t handle);
// The next `slots` slot allocations and `engines` engine allocations fail.
void FailAllocationsForTesting(int slots, int engines);

}  // namespace testing

}  // namespace orvenna

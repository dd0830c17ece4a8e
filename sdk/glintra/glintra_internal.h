// Test-only entry points of Glintra: not exported from libglintra.so; tests and benchmarks link
// the static library `glintra_static` to reach them.
#pragma once

#include "glintra.h"

#include <cstdint>

namespace glintra::testing {

// Makes drawing threads started from now on present with plain XPutImage.
void DisableShm(bool disabled);

// Pictures that the handle's drawing thread has rendered and presented so far; 0 on a bad handle.
uint64_t Presented(GLT_HANDLE handle);

// Waits until Presented(handle) reaches `count`; false on a bad handle or when the time runs out.
bool WaitPresented(GLT_HANDLE handle, uint64_t count, int timeoutMs);

// Whether the handle's drawing thread presents through shared memory.
bool PresentsShared(GLT_HANDLE handle);

}  // namespace glintra::testing

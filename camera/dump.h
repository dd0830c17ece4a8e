// Writes the camera's stream to a file instead of serving it.
#pragma once

#include <string>

#include "camera.h"

namespace camsim {

// Writes frames 0 .. count - 1 back to back, as the stream carries them. False with error set
// when the file cannot be written.
bool DumpFrames(Camera& camera, const std::string& path, int32_t count, std::string& error);

}  // namespace camsim

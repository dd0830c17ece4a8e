// The emulated camera: turns the synthetic scene (or a replayed recording), the parameter row
// and the focus motor into whole frames, header and image, as the stream carries them.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "focus_motor.h"
#include "options.h"
#include "scene.h"

namespace camsim {

using Frame = std::vector<uint8_t>;

class Camera {
public:
    // Null with error set when the replay file cannot be used.
    static std::unique_ptr<Camera> Create(const CameraOptions& options, std::string& error);
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Frame number index: the scene at index / frame rate seconds. Frames are cached, so clients
    // that ask for the same index share one rendering. Thread-safe.
    std::shared_ptr<const Frame> FrameAt(uint64_t index);
    // The frame index that is due now for paced streams.
    uint64_t IndexNow() const;

    FocusMotor& Focus() { return m_focus; }
    const CameraOptions& Options() const { return m_options; }
    size_t FrameSize() const { return m_frameSize; }

private:
    explicit Camera(const CameraOptions& options);
    bool OpenReplay(std::string& error);
    void Render(uint64_t index, Frame& frame);

    const CameraOptions m_options;
    const size_t m_imageBytes;
    const size_t m_frameSize;
    const std::chrono::steady_clock::time_point m_start;
    FocusMotor m_focus;

    std::mutex m_mutex;                     // guards everything below; any client thread
    SyntheticScene m_scene;
    std::vector<uint16_t> m_pixels;         // the scene's last rendering
    std::mt19937_64 m_random;               // CRC faults
    std::shared_ptr<const Frame> m_cached;  // frame m_cachedIndex
    uint64_t m_cachedIndex = UINT64_MAX;
    std::vector<std::shared_ptr<const Frame>> m_prepared;  // options.distinctFrames of them

    std::ifstream m_replay;                 // the recording, read an image at a time
    uint64_t m_replayFrames = 0;            // whole images in it; 0 without a recording
};

}  // namespace camsim

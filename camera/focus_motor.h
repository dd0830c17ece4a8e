// The emulated focus motor: it moves while a focus command is held and stands otherwise. Its
// distance from best focus sets how much the picture is blurred.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace camsim {

class FocusMotor {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr uint32_t kNear = 13;  // moves the position down
    static constexpr uint32_t kFar = 14;   // moves the position up
    static constexpr int32_t kLimit = 400;
    static constexpr double kStepsPerSecond = 60.0;
    static constexpr int32_t kStepsPerBlurPixel = 15;
    static constexpr int kMaxBlurRadius = 16;

    // Position 0 is best focus; the camera starts a little off it.
    explicit FocusMotor(int32_t startPosition = 60);

    // Starts (stop false) or stops a motion; false for an unknown command. owner identifies who
    // holds the motion, so that a client that goes away can let go of it.
    bool Command(uint32_t command, bool stop, uint64_t owner, Clock::time_point now);
    void Release(uint64_t owner, Clock::time_point now);
    int32_t Position(Clock::time_point now) const;
    // Box-blur radius in pixels for the position at now.
    int BlurRadius(Clock::time_point now) const;

private:
    int32_t PositionLocked(Clock::time_point now) const;

    mutable std::mutex m_mutex;         // guards everything below; any client thread
    int32_t m_position;                 // where the last motion ended
    int m_direction = 0;                // -1, 0, +1
    Clock::time_point m_since;          // start of the running motion
    uint64_t m_owner = 0;               // who started the running motion
};

}  // namespace camsim

// The focus motor: position integrates the held direction over time, bounded at both ends.
#include "focus_motor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace camsim {

FocusMotor::FocusMotor(int32_t startPosition) : m_position(startPosition) {}

int32_t FocusMotor::PositionLocked(Clock::time_point now) const {
    if (m_direction == 0) return m_position;
    const double seconds = std::chrono::duration<double>(now - m_since).count();
    const double moved = std::max(0.0, seconds) * kStepsPerSecond * m_direction;
    const double position = std::clamp(m_position + moved, double{-kLimit}, double{kLimit});
    return static_cast<int32_t>(std::lround(position));
}

bool FocusMotor::Command(uint32_t command, bool stop, uint64_t owner, Clock::time_point now) {
    if (command != kNear && command != kFar) return false;
    std::lock_guard lock(m_mutex);
    m_position = PositionLocked(now);
    m_since = now;
    if (stop) {
        m_direction = 0;
    } else {
        m_direction = command == kNear ? -1 : 1;
        m_owner = owner;
    }
    return true;
}

void FocusMotor::Release(uint64_t owner, Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    if (m_direction == 0 || m_owner != owner) return;
    m_position = PositionLocked(now);
    m_direction = 0;
}

int32_t FocusMotor::Position(Clock::time_point now) const {
    std::lock_guard lock(m_mutex);
    return PositionLocked(now);
}

int FocusMotor::BlurRadius(Clock::time_point now) const {
    return std::min(std::abs(Position(now)) / kStepsPerBlurPixel, kMaxBlurRadius);
}

}  // namespace camsim

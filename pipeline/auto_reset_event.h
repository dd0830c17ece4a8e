// An auto-reset event: Set wakes one waiter, or the next one to come when nobody waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kestrix {

class AutoResetEvent {
public:
    void Set() {
        {
            std::lock_guard lock(m_mutex);
            m_bSignalled = true;
        }
        m_cv.notify_one();
    }

    // True when the event was signalled within the timeout; the signal is consumed.
    bool Wait(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait_for(lock, timeout, [this] { return m_bSignalled; })) return false;
        m_bSignalled = false;
        return true;
    }

    bool IsSignalled() {
        std::lock_guard lock(m_mutex);
        return m_bSignalled;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bSignalled = false;  // guarded by m_mutex
};

}  // namespace kestrix

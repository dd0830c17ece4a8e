// Waiting for something that another thread or process brings about.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kx_test {

// Polls `done` until it holds or `limit` passes (generous: sanitizers on a loaded machine); calls
// `serve` between polls when given (a GUI test serves its event loop there). True when it held.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20),
                      const std::function<void()>& serve = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (serve) serve();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace kx_test

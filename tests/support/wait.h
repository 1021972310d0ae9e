// Waiting in tests for something another thread does.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace support {

// For anything that should happen at once; long enough for a loaded machine.
constexpr int kGenerous = 10000;

inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kGenerous) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace support

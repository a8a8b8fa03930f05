// Waiting in tests for a condition, never for a stretch of wall-clock time: the
// deadline is generous (loaded CI machines, sanitizers) and only bounds a failure.
#pragma once

#include <chrono>
#include <thread>

namespace orvatest {

inline constexpr std::chrono::seconds kPatience{60};

// Checks `condition` every few milliseconds until it holds (true) or `patience` has
// passed (false).
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds patience = kPatience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace orvatest

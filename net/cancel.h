#pragma once
// A run's cancel flag as every wait of the setup reads it. The flag is a plain atomic that wakes
// nobody, so each wait looks at it at least every CANCEL_LOOK_MS. Portable.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace df::setup {

// How often a wait looks at a cancel flag: a cancel takes effect well within a second.
inline constexpr std::uint32_t CANCEL_LOOK_MS = 50;

// Whether cancel is given and set.
inline bool is_set(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

// Waits ms milliseconds, or less once cancel is set; true when cancel ended it.
bool pause_unless_cancelled(std::uint32_t ms, const std::atomic<bool>* cancel);

// Waits on cv (lock held) until done() holds or cancel is set; true when done() holds.
template <class Done>
bool wait_unless_cancelled(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                           const std::atomic<bool>* cancel, Done done) {
    while (!done()) {
        if (is_set(cancel)) return false;
        cv.wait_for(lock, std::chrono::milliseconds(CANCEL_LOOK_MS));
    }
    return true;
}

}  // namespace df::setup

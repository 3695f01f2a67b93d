#include "net/cancel.h"

#include <thread>

namespace df::setup {

bool pause_unless_cancelled(std::uint32_t ms, const std::atomic<bool>* cancel) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (is_set(cancel)) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            end - now, std::chrono::milliseconds(CANCEL_LOOK_MS)));
    }
}

}  // namespace df::setup

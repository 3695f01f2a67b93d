#include "ui/rate.h"

#include <cmath>

namespace df::setup {

void RateEstimate::add(std::uint64_t now_ms, std::uint64_t bytes_done, std::uint64_t bytes_total) {
    if (count_ > 0 && now_ms < at(count_ - 1).ms) count_ = 0;  // another clock: its samples say nothing
    if (count_ == 0) {
        first_ = 0;
        moved_ = 0;
    } else if (bytes_done > done_) {
        moved_ += bytes_done - done_;
    }
    done_ = bytes_done;
    total_ = bytes_total;

    const Sample now{now_ms, moved_};
    // The first sample stays as it is: it is where the history begins.
    if (count_ >= 2 && at(count_ - 1).ms / RATE_SLOT_MS == now_ms / RATE_SLOT_MS) {
        at(count_ - 1) = now;
    } else {
        if (count_ == CAPACITY) drop_oldest();
        ++count_;
        at(count_ - 1) = now;
    }
    // The oldest sample kept is the newest one at least a window old, so that the speed always
    // spans a whole window once there is one (and, after a stall, the stall itself).
    while (count_ >= 2 && at(1).ms + RATE_WINDOW_MS <= now_ms) drop_oldest();
}

std::optional<double> RateEstimate::bytes_per_second() const {
    if (count_ < 2) return std::nullopt;
    const Sample& oldest = at(0);
    const Sample& newest = at(count_ - 1);
    const std::uint64_t span = newest.ms - oldest.ms;
    if (span < RATE_MIN_SPAN_MS) return std::nullopt;
    return static_cast<double>(newest.moved - oldest.moved) * 1000.0 / static_cast<double>(span);
}

std::optional<std::uint64_t> RateEstimate::seconds_left() const {
    const std::optional<double> speed = bytes_per_second();
    if (!speed || !(*speed > 0.0)) return std::nullopt;
    const std::uint64_t rest = total_ > done_ ? total_ - done_ : 0;
    // Capped far beyond any time worth showing, so that the conversion stays defined.
    const double seconds = std::ceil(static_cast<double>(rest) / *speed);
    return seconds < 1e12 ? static_cast<std::uint64_t>(seconds) : std::uint64_t{1000000000000};
}

}  // namespace df::setup

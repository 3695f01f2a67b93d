#include "net/body_pace.h"

#include <algorithm>
#include <limits>

namespace df::setup {

BodyPace::BodyPace(std::uint64_t start_ms, std::uint64_t span_ms, std::uint64_t min_bytes)
    : start_(start_ms),
      span_(std::max<std::uint64_t>(span_ms, 1)),
      min_bytes_(min_bytes),
      grain_((span_ + SLOTS - 2) / (SLOTS - 1)),
      clock_(start_ms) {}

void BodyPace::expire(std::uint64_t now_ms) {
    clock_ = std::max(clock_, now_ms);
    while (count_ > 0 && at(0).last_ms + span_ <= clock_) {
        in_ring_ -= at(0).bytes;
        oldest_ = (oldest_ + 1) % SLOTS;
        --count_;
    }
}

void BodyPace::arrived(std::uint64_t now_ms, std::uint64_t n) {
    expire(now_ms);
    if (n == 0) return;
    if (count_ > 0 && clock_ - at(count_ - 1).first_ms < grain_) {
        Slot& newest = at(count_ - 1);
        newest.last_ms = clock_;
        newest.bytes += n;
    } else {
        // Never full here: the oldest of SLOTS slots began SLOTS grains ago, so its last arrival
        // is more than a span old and expire() has dropped it. Kept so the ring cannot overflow.
        if (count_ == SLOTS) {
            in_ring_ -= at(0).bytes;
            oldest_ = (oldest_ + 1) % SLOTS;
            --count_;
        }
        at(count_) = Slot{clock_, clock_, n};
        ++count_;
    }
    in_ring_ += n;
}

bool BodyPace::holds(std::uint64_t now_ms) {
    expire(now_ms);
    return clock_ - start_ < span_ || in_ring_ >= min_bytes_;
}

std::uint64_t BodyPace::time_left(std::uint64_t now_ms) {
    if (!holds(now_ms)) return 0;
    if (min_bytes_ == 0) return std::numeric_limits<std::uint64_t>::max();
    // Never before a span from the start; after that, once the slot that leaves fewer than
    // min_bytes behind it expires.
    std::uint64_t fails_at = start_ + span_;
    if (in_ring_ < min_bytes_) return fails_at - clock_;
    std::uint64_t left = in_ring_;
    for (std::size_t i = 0; i < count_; ++i) {
        left -= at(i).bytes;
        if (left < min_bytes_) {
            fails_at = std::max(fails_at, at(i).last_ms + span_);
            break;
        }
    }
    return fails_at - clock_;
}

}  // namespace df::setup

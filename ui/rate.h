#pragma once
// The speed of a download and the time it still needs, from samples of its byte count. Portable.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace df::setup {

// The speed is measured over the last RATE_WINDOW_MS of samples and is known once they span
// RATE_MIN_SPAN_MS. Samples within one RATE_SLOT_MS slot of the clock count as one, so a report
// per received chunk costs no memory.
inline constexpr std::uint64_t RATE_WINDOW_MS = 5000;
inline constexpr std::uint64_t RATE_MIN_SPAN_MS = 2000;
inline constexpr std::uint64_t RATE_SLOT_MS = 250;

// Not thread-safe: each user keeps one behind its own lock or on one thread.
class RateEstimate {
public:
    // One sample: at monotonic time now_ms, bytes_done of bytes_total are done. A count below the
    // last one (bytes thrown away to be fetched again) moves nothing, so the speed goes on from
    // the bytes that moved before; a time before the last sample's starts the history again.
    void add(std::uint64_t now_ms, std::uint64_t bytes_done, std::uint64_t bytes_total);
    // Bytes per second over the window; none until the samples span RATE_MIN_SPAN_MS.
    std::optional<double> bytes_per_second() const;
    // Whole seconds (rounded up) until bytes_total at that speed; none while the speed is unknown
    // or 0.
    std::optional<std::uint64_t> seconds_left() const;

private:
    struct Sample {
        std::uint64_t ms;
        std::uint64_t moved;  // bytes that moved since the history began
    };
    // The anchor (the newest sample at least RATE_WINDOW_MS old), one sample per slot after it,
    // and the first sample of a history, which may share its slot with the next.
    static constexpr std::size_t CAPACITY = RATE_WINDOW_MS / RATE_SLOT_MS + 4;

    const Sample& at(std::size_t i) const { return ring_[(first_ + i) % CAPACITY]; }
    Sample& at(std::size_t i) { return ring_[(first_ + i) % CAPACITY]; }
    void drop_oldest() {
        first_ = (first_ + 1) % CAPACITY;
        --count_;
    }

    std::array<Sample, CAPACITY> ring_{};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::uint64_t moved_ = 0;
    std::uint64_t done_ = 0;
    std::uint64_t total_ = 0;
};

}  // namespace df::setup

#pragma once
// The pace rule of a response body: a least byte count within every span of its receive
// time-out, over a sliding span counted from the start of the body. A small ring of slots keeps
// the recent arrivals, so each chunk costs the same however long the body runs.
#include <array>
#include <cstddef>
#include <cstdint>

namespace df::setup {

class BodyPace {
public:
    // Watches a body that began at start_ms (a monotonic clock in ms) with a span of span_ms
    // (at least 1) and a least count of min_bytes per span.
    BodyPace(std::uint64_t start_ms, std::uint64_t span_ms, std::uint64_t min_bytes);

    // Records n body bytes arrived at now_ms (a time before an earlier call counts as that time).
    void arrived(std::uint64_t now_ms, std::uint64_t n);

    // False once a span has passed since the start and fewer than min_bytes arrived in the last
    // span; seen at the grain of one slot, so never for a body that brings min_bytes within every
    // span, and always for one that brings fewer within a span plus one grain.
    bool holds(std::uint64_t now_ms);

    // The ms from now_ms until holds() turns false if nothing more arrives (0: already false).
    std::uint64_t time_left(std::uint64_t now_ms);

    // The slot grain: span / (SLOTS - 1), rounded up.
    std::uint64_t grain_ms() const { return grain_; }

private:
    // The arrivals of one grain: the first and last arrival time and their byte count.
    struct Slot {
        std::uint64_t first_ms = 0;
        std::uint64_t last_ms = 0;
        std::uint64_t bytes = 0;
    };
    // Enough for every slot that can still hold an arrival within the last span: slots begin at
    // least a grain apart, and (SLOTS - 1) grains cover the span.
    static constexpr std::size_t SLOTS = 16;

    // Drops the slots whose last arrival is a whole span before now_ms.
    void expire(std::uint64_t now_ms);
    Slot& at(std::size_t i) { return ring_[(oldest_ + i) % SLOTS]; }

    std::uint64_t start_;
    std::uint64_t span_;
    std::uint64_t min_bytes_;
    std::uint64_t grain_;
    std::uint64_t clock_;        // the latest time seen, so time never runs backwards
    std::array<Slot, SLOTS> ring_{};
    std::size_t oldest_ = 0;     // ring index of the oldest slot
    std::size_t count_ = 0;      // slots in use
    std::uint64_t in_ring_ = 0;  // the bytes of the slots in use
};

}  // namespace df::setup

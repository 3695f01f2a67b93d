// Fuzz entry point for the receive pace rule (net/body_pace.h), fed time steps and byte counts and
// checked against every arrival kept in full: a body that brings the least count within the last
// span is never cut, one that brings fewer within a span and a slot (grain) always is, and
// time_left names exactly the first ms at which it would be cut if nothing more came.
//
// Input: span - 1, least count, start (16 bits each, little-endian); then steps of 4 bytes: a time
// step (16 bits; with its top bit, a time that many ms before the clock, which counts as the clock)
// and a byte count (16 bits).
#include "net/body_pace.h"
#include "tests/release/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

using namespace df::setup;

namespace {

struct Arrival {
    std::uint64_t at;
    std::uint64_t bytes;
};

// The bytes that arrived within window ms before now (an arrival at t counts while t + window > now).
std::uint64_t within(const std::vector<Arrival>& arrivals, std::uint64_t now, std::uint64_t window) {
    std::uint64_t sum = 0;
    for (const Arrival& a : arrivals) {
        if (a.at + window > now) sum += a.bytes;
    }
    return sum;
}

std::uint64_t u16(const std::uint8_t* p) { return p[0] | static_cast<std::uint64_t>(p[1]) << 8; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    const std::uint64_t span = u16(data) + 1, least = u16(data + 2), start = u16(data + 4);
    BodyPace pace(start, span, least);
    const std::uint64_t grain = pace.grain_ms();
    FUZZ_CHECK(grain >= 1 && grain * 15 >= span);
    std::vector<Arrival> arrivals;
    std::uint64_t clock = start;
    for (std::size_t i = 6; i + 4 <= size; i += 4) {
        const std::uint64_t step = u16(data + i), bytes = u16(data + i + 2);
        std::uint64_t given = clock + step;
        if (step & 0x8000) given = clock > (step & 0x7FFF) ? clock - (step & 0x7FFF) : 0;
        clock = std::max(clock, given);
        pace.arrived(given, bytes);
        if (bytes > 0) arrivals.push_back({clock, bytes});

        const bool span_passed = clock - start >= span;
        const bool holds = pace.holds(clock);
        if (!span_passed || within(arrivals, clock, span) >= least) FUZZ_CHECK(holds);
        if (span_passed && within(arrivals, clock, span + grain) < least) FUZZ_CHECK(!holds);

        // time_left against the rule itself, on a copy left without arrivals.
        BodyPace idle = pace;
        const std::uint64_t left = idle.time_left(clock);
        if (left == 0) {
            FUZZ_CHECK(!holds);
        } else if (left == std::numeric_limits<std::uint64_t>::max()) {
            FUZZ_CHECK(least == 0 && idle.holds(clock + 10 * span));
        } else {
            const std::uint64_t cut = clock + left;
            FUZZ_CHECK(idle.holds(cut - 1));
            FUZZ_CHECK(!idle.holds(cut));
            // Cut only when the last span brought too little, and no later than a slot after that.
            FUZZ_CHECK(within(arrivals, cut, span) < least);
            FUZZ_CHECK(cut - 1 - start < span || within(arrivals, cut - 1, span + grain) >= least);
        }
    }
    return 0;
}

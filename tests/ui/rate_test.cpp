// The speed and time-left estimate: when it is known, what its window of samples remembers, and
// counts that go back or clocks that jump.
#include "ui/rate.h"

#include <gtest/gtest.h>

#include <vector>

using namespace df::setup;

namespace {

constexpr std::uint64_t MB = 1048576;

struct Sample {
    std::uint64_t ms, done, total;
};
using Samples = std::vector<Sample>;

// Samples every step_ms from from_ms to to_ms, starting at done and growing by bytes_per_second.
Samples ramp(Samples out, std::uint64_t from_ms, std::uint64_t to_ms, std::uint64_t step_ms, std::uint64_t done,
             std::uint64_t bytes_per_second, std::uint64_t total = 100 * MB) {
    for (std::uint64_t ms = from_ms; ms <= to_ms; ms += step_ms) {
        out.push_back({ms, done + (ms - from_ms) * bytes_per_second / 1000, total});
    }
    return out;
}

}  // namespace

TEST(RateEstimate, Table) {
    const Samples first = ramp({}, 0, 3000, 250, 0, MB);   // 1 MB/s for 3 s
    const Samples slow = ramp({}, 0, 10000, 250, 0, MB);  // 1 MB/s for 10 s
    struct Case {
        const char* name;
        Samples samples;
        std::optional<double> speed;
        std::optional<std::uint64_t> left;
    } cases[] = {
        {"no sample", {}, {}, {}},
        {"1999 ms of samples", {{0, 0, 10 * MB}, {1999, 2 * MB, 10 * MB}}, {}, {}},
        {"2000 ms; time left rounded up", {{0, 0, 10 * MB + MB / 2}, {2000, 2 * MB, 10 * MB + MB / 2}}, 1.0 * MB, 9},
        {"more done than the total", {{0, 0, 2 * MB}, {2000, 3 * MB, 2 * MB}}, 1.5 * MB, 0},
        {"the window forgets an older speed", ramp(slow, 10250, 15000, 250, 10 * MB + 3 * MB / 4, 3 * MB), 3.0 * MB, 25},
        {"4 s into a new speed: still a mix", ramp(slow, 10250, 14000, 250, 10 * MB + 3 * MB / 4, 3 * MB, 101 * MB),
         2.6 * MB, 31},
        {"bytes thrown away keep the speed", ramp(first, 3000, 4500, 250, MB, MB), 1.0 * MB, 98},
        {"a stall: speed 0, time unknown", ramp(first, 11000, 11000, 1, 3 * MB, 0), 0.0, {}},
        {"an earlier time starts again", ramp(first, 2999, 2999, 1, 3 * MB, 0), {}, {}},
        {"a sample every millisecond for a minute", ramp({}, 0, 60000, 1, 0, MB, 100 * MB + MB / 2), 1.0 * MB, 41},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RateEstimate rate;
        for (const Sample& s : c.samples) rate.add(s.ms, s.done, s.total);
        std::optional<double> speed = rate.bytes_per_second();
        ASSERT_EQ(speed.has_value(), c.speed.has_value());
        EXPECT_NEAR(speed.value_or(0), c.speed.value_or(0), 1.0);
        EXPECT_EQ(rate.seconds_left(), c.left);
    }
}

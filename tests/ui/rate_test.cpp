// The speed and time-left estimate: when it is known, what the window of samples remembers, and
// counts that go back or clocks that jump.
#include "ui/rate.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace df::setup;

namespace {

constexpr std::uint64_t MB = 1048576;

struct Sample {
    std::uint64_t ms, done, total;
};

// Samples every step_ms from from_ms to to_ms (both included), starting at done bytes and
// growing by bytes_per_second.
void ramp(std::vector<Sample>& out, std::uint64_t from_ms, std::uint64_t to_ms, std::uint64_t step_ms,
          std::uint64_t done, std::uint64_t bytes_per_second, std::uint64_t total = 100 * MB) {
    for (std::uint64_t ms = from_ms; ms <= to_ms; ms += step_ms) {
        out.push_back({ms, done + (ms - from_ms) * bytes_per_second / 1000, total});
    }
}

}  // namespace

TEST(RateEstimate, Table) {
    struct Case {
        const char* name;
        std::vector<Sample> samples;
        std::optional<double> speed;
        std::optional<std::uint64_t> left;
    };
    std::vector<Case> cases;
    cases.push_back({"no sample", {}, {}, {}});
    cases.push_back({"1999 ms of samples", {{0, 0, 10 * MB}, {1999, 2 * MB, 10 * MB}}, {}, {}});
    cases.push_back({"2000 ms; time left rounded up", {{0, 0, 10 * MB + MB / 2}, {2000, 2 * MB, 10 * MB + MB / 2}},
                     1.0 * MB, 9});
    cases.push_back({"finished: nothing left", {{0, 0, 2 * MB}, {2000, 3 * MB, 2 * MB}}, 1.5 * MB, 0});
    Case older{"the window forgets an older speed", {}, 3.0 * MB, 25};
    ramp(older.samples, 0, 10000, 250, 0, MB);
    ramp(older.samples, 10250, 15000, 250, 10 * MB + 3 * MB / 4, 3 * MB);
    cases.push_back(older);
    Case mixed{"4 s into the new speed: still a mix", {}, 2.6 * MB, 31};
    ramp(mixed.samples, 0, 10000, 250, 0, MB);
    ramp(mixed.samples, 10250, 14000, 250, 10 * MB + 3 * MB / 4, 3 * MB, 101 * MB);
    cases.push_back(mixed);
    Case back{"bytes thrown away keep the speed", {}, 1.0 * MB, 98};
    ramp(back.samples, 0, 3000, 250, 0, MB);
    ramp(back.samples, 3000, 4500, 250, MB, MB);  // 2 MB thrown away at 3000 ms
    cases.push_back(back);
    Case stall{"a stall: speed 0, time unknown", {}, 0.0, {}};
    ramp(stall.samples, 0, 3000, 250, 0, MB);
    stall.samples.push_back({11000, 3 * MB, 100 * MB});
    cases.push_back(stall);
    Case clock{"an earlier time starts again", {}, {}, {}};
    ramp(clock.samples, 0, 3000, 250, 0, MB);
    clock.samples.push_back({2999, 3 * MB, 100 * MB});
    cases.push_back(clock);
    Case dense{"a sample every millisecond for a minute", {}, 1.0 * MB, 41};
    ramp(dense.samples, 0, 60000, 1, 0, MB, 100 * MB + MB / 2);
    cases.push_back(dense);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RateEstimate rate;
        for (const Sample& s : c.samples) rate.add(s.ms, s.done, s.total);
        std::optional<double> speed = rate.bytes_per_second();
        ASSERT_EQ(speed.has_value(), c.speed.has_value());
        if (speed) {
            EXPECT_NEAR(*speed, *c.speed, 1.0);
        }
        EXPECT_EQ(rate.seconds_left(), c.left);
    }
}

// The pace rule of a body over a sliding span (portable): rows of arrivals on a 30 s span with
// 1,024 bytes per span, judged as the client does (before each arrival is counted, and at the
// row's end), with near misses on both sides of the line.
#include "net/body_pace.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace df::setup;

namespace {

// count arrivals of bytes each, at from, from + every, ...
struct Burst {
    std::uint64_t from, every, count, bytes;
};

}  // namespace

TEST(BodyPace, SlidingSpanTable) {
    struct Row {
        const char* name;
        std::vector<Burst> arrivals;  // in time order
        std::uint64_t at;
        bool holds;                         // at every arrival and at `at`
        std::optional<std::uint64_t> left;  // time_left at `at`
    } rows[] = {
        {"nothing for a whole span", {}, 30000, false, 0},
        {"1,023 bytes at once, a span not yet over", {{1, 0, 1, 1023}}, 29999, true, 1},
        {"1,023 bytes at once, a span over", {{1, 0, 1, 1023}}, 30000, false, 0},
        {"1,024 bytes at once, until a span after them", {{1, 0, 1, 1024}}, 30000, true, 1},
        {"1,024 bytes at once, a span after them", {{1, 0, 1, 1024}}, 30001, false, 0},
        // 100 KiB fast, 1,000 bytes more at 1 s, then a byte a second: 1,024 bytes since the fast
        // part come together only at 25 s, which must not hold the span open until 55 s.
        {"fast start then drip, just before a span after the slow-down",
         {{0, 10, 100, 1024}, {1000, 0, 1, 1000}, {2000, 1000, 40, 1}}, 30999, true, 1},
        {"fast start then drip, cut a span after the slow-down",
         {{0, 10, 100, 1024}, {1000, 0, 1, 1000}, {2000, 1000, 40, 1}}, 31000, false, 0},
        {"steady 2 KiB/s for two minutes", {{0, 100, 1200, 205}}, 119900, true, 30000},
        {"just enough: 8 bytes every 234 ms for two minutes", {{0, 234, 513, 8}}, 119808, true, std::nullopt},
        {"just too slow: 8 bytes every 270 ms", {{0, 270, 149, 8}}, 40000, false, 0},
        // A late chunk does not undo a cut: the span before it already came up short.
        {"a pause of a span after a fast start", {{0, 10, 10, 4096}, {30090, 0, 1, 4096}}, 30090, false, std::nullopt},
        {"fast again just before the span is over", {{0, 10, 10, 4096}, {30089, 0, 1, 4096}}, 30089, true, 30000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        struct Arrival {
            std::uint64_t t, n;
        };
        std::vector<Arrival> arrivals;
        for (const Burst& b : row.arrivals) {
            for (std::uint64_t i = 0; i < b.count; ++i) arrivals.push_back({b.from + i * b.every, b.bytes});
        }
        BodyPace pace(0, 30000, 1024);
        bool held = true;
        for (const Arrival& a : arrivals) {
            if (a.t > row.at) break;
            held = held && pace.holds(a.t);
            pace.arrived(a.t, a.n);
        }
        EXPECT_EQ(held && pace.holds(row.at), row.holds);
        if (row.left) {
            EXPECT_EQ(pace.time_left(row.at), *row.left);
        }
    }
}

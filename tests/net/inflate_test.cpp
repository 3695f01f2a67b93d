// The bounded inflater of packed copies: whole streams in any slicing, the bound, and every way a
// stream can be wrong (portable).
#include "net/inflate.h"
#include "tests/support/deflated.h"

#include <gtest/gtest.h>

#include <string>

using namespace df::setup;
using df::test::deflated;

namespace {

struct Inflated {
    BoundedInflate::State state;
    std::string out;
};

// Feeds stream in slices of step bytes (0: whole), then finishes.
Inflated inflate(const std::string& stream, std::uint64_t limit, std::size_t step = 0, std::size_t stop_after = SIZE_MAX) {
    BoundedInflate in(limit);
    Inflated r{BoundedInflate::State::more, {}};
    auto sink = [&](const char* d, std::size_t n) {
        r.out.append(d, n);
        return r.out.size() <= stop_after;
    };
    const std::size_t slice = step == 0 ? std::max<std::size_t>(stream.size(), 1) : step;
    for (std::size_t at = 0; at < stream.size(); at += slice) {
        in.feed(stream.data() + at, std::min(slice, stream.size() - at), sink);
    }
    r.state = in.finish();
    EXPECT_EQ(in.produced(), r.out.size());
    EXPECT_LE(r.out.size(), limit);
    return r;
}

}  // namespace

TEST(Inflate, StreamsAndTheirFaults) {
    using S = BoundedInflate::State;
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + "\n";
    const std::string gz = deflated(text);
    std::string flipped = gz;
    flipped[gz.size() / 2] ^= 0x20;
    std::string bad_crc = gz;
    bad_crc[gz.size() - 6] ^= 0x01;  // the trailer's CRC-32
    const std::string zeros(10 << 20, '\0');
    struct Case {
        const char* what;
        std::string stream;
        std::uint64_t limit;
        std::size_t step;
        S state;
        std::size_t out;  // bytes of the file handed to the sink when done; else never more than the bound
    } cases[] = {
        {"whole", gz, text.size(), 0, S::done, text.size()},
        {"byte by byte", gz, text.size(), 1, S::done, text.size()},
        {"odd slices", gz, text.size() + 1, 4099, S::done, text.size()},
        {"a byte past the bound", gz, text.size() - 1, 0, S::too_long, 0},
        {"a bomb", deflated(zeros), 1 << 20, 0, S::too_long, 1 << 20},
        {"cut short", gz.substr(0, gz.size() - 1), text.size(), 0, S::corrupt, text.size()},
        {"a flipped bit", flipped, text.size(), 0, S::corrupt, 0},
        {"a wrong check value", bad_crc, text.size(), 0, S::corrupt, text.size()},
        {"bytes after the end", gz + "x", text.size(), 0, S::corrupt, text.size()},
        {"two members", gz + gz, 2 * text.size(), 0, S::corrupt, text.size()},
        {"a zlib stream", deflated(text, 15), text.size(), 0, S::corrupt, 0},
        {"nothing", "", 10, 0, S::corrupt, 0},
        {"an empty file", deflated(""), 0, 0, S::done, 0},
    };
    for (const Case& c : cases) {
        Inflated r = inflate(c.stream, c.limit, c.step);
        EXPECT_EQ(r.state, c.state) << c.what;
        if (c.state == S::done) {
            EXPECT_EQ(r.out, text.substr(0, c.out)) << c.what;
        }
    }
    EXPECT_EQ(inflate(gz, text.size(), 0, 1000).state, S::stopped);
}

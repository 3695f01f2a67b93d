// Fuzz entry point for the bounded inflate of packed copies (net/inflate.h): whatever the stream,
// it never yields more than its bound, hands the sink exactly what it counts, never crashes, and
// agrees with zlib's own inflate of the whole input: a whole member within the bound is done with
// the same bytes, one that yields more is never done, and too long means it does.
//
// Input: the bound (24 bits, little-endian), the size of the pieces the stream is fed in (0: all
// at once), the sink's limit in 256-byte units after which it stops the stream (0: never); then the
// stream.
#include "net/inflate.h"
#include "tests/release/fuzz/fuzz_check.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

using namespace df::setup;

namespace {

// zlib's inflate of the whole input as one gzip member, read until it yields more than limit
// bytes: the bytes, whether it yielded more, and whether it ended the member with no byte after it.
struct Reference {
    std::string bytes;
    bool longer = false;
    bool whole = false;
};

Reference reference(const std::uint8_t* data, std::size_t size, std::uint64_t limit) {
    Reference out;
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return out;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    unsigned char buffer[4096];
    int r = Z_OK;
    while (r == Z_OK && !out.longer) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        r = inflate(&z, Z_NO_FLUSH);
        out.bytes.append(reinterpret_cast<char*>(buffer), sizeof buffer - z.avail_out);
        out.longer = out.bytes.size() > limit;
    }
    out.whole = r == Z_STREAM_END && z.avail_in == 0 && !out.longer;
    inflateEnd(&z);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const std::uint64_t bound = data[0] | data[1] << 8 | data[2] << 16;
    const std::size_t piece = data[3];
    const std::uint64_t stop_after = data[4] * std::uint64_t{256};
    data += 5;
    size -= 5;

    BoundedInflate inflate(bound);
    std::string got;
    using State = BoundedInflate::State;
    State state = State::more;
    for (std::size_t at = 0; at < size;) {
        const std::size_t n = piece == 0 ? size - at : std::min(piece, size - at);
        const State before = state;
        state = inflate.feed(data + at, n, [&](const char* out, std::size_t k) {
            FUZZ_CHECK(k > 0 && got.size() + k <= bound);
            got.append(out, k);
            return stop_after == 0 || got.size() < stop_after;
        });
        // Once decided it stays, but for bytes after a whole member, which make it corrupt.
        FUZZ_CHECK(before == State::more || state == before || (before == State::done && state == State::corrupt));
        FUZZ_CHECK(inflate.produced() == got.size() && got.size() <= bound);
        at += n;
    }
    const State end = inflate.finish();
    FUZZ_CHECK(end != State::more);
    FUZZ_CHECK(state == State::more ? end == State::corrupt : end == state);
    if (end == State::stopped) FUZZ_CHECK(stop_after > 0 && got.size() >= stop_after);

    const Reference ref = reference(data, size, bound);
    FUZZ_CHECK(ref.bytes.compare(0, got.size(), got) == 0);
    if (end == State::done) FUZZ_CHECK(ref.whole && ref.bytes == got);
    if (end == State::too_long) FUZZ_CHECK(ref.longer);
    if (ref.whole && (stop_after == 0 || ref.bytes.size() < stop_after)) FUZZ_CHECK(end == State::done && got == ref.bytes);
    // Beyond the bound: never done (a later corrupt byte may be seen first).
    if (ref.longer) FUZZ_CHECK(end != State::done && end != State::more);
    return 0;
}

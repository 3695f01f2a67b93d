#include "net/inflate.h"

#include <zlib.h>

#include <array>

namespace df::setup {

struct BoundedInflate::Stream {
    z_stream z{};
    bool open = false;
    std::array<char, 65536> out{};
};

BoundedInflate::BoundedInflate(std::uint64_t limit) : stream_(std::make_unique<Stream>()), limit_(limit) {
    // 16 + 15: a gzip wrapper only (no zlib header, no automatic detection), the largest window.
    stream_->open = ::inflateInit2(&stream_->z, 16 + MAX_WBITS) == Z_OK;
    if (!stream_->open) state_ = State::corrupt;
}

BoundedInflate::~BoundedInflate() {
    if (stream_->open) ::inflateEnd(&stream_->z);
}

BoundedInflate::State BoundedInflate::feed(const void* data, std::size_t n, const InflateSink& out) {
    if (n == 0) return state_;
    if (state_ == State::done) state_ = State::corrupt;  // a second member or trailing bytes
    if (state_ != State::more) return state_;
    z_stream& z = stream_->z;
    const auto* in = static_cast<const unsigned char*>(data);
    for (;;) {
        if (z.avail_in == 0 && n > 0) {
            // avail_in is 32 bits wide: larger inputs go in turns.
            const std::size_t take = n > 0x40000000u ? 0x40000000u : n;
            z.next_in = const_cast<unsigned char*>(in);
            z.avail_in = static_cast<uInt>(take);
            in += take;
            n -= take;
        }
        z.next_out = reinterpret_cast<unsigned char*>(stream_->out.data());
        z.avail_out = static_cast<uInt>(stream_->out.size());
        const int r = ::inflate(&z, Z_NO_FLUSH);
        const std::size_t got = stream_->out.size() - z.avail_out;
        // Z_BUF_ERROR: no progress without more input (anything else would be a spin).
        const bool starved = r == Z_BUF_ERROR && got == 0 && z.avail_in == 0;
        if (r != Z_OK && r != Z_STREAM_END && !starved) return state_ = State::corrupt;
        if (got > limit_ - produced_) return state_ = State::too_long;
        if (got > 0) {
            produced_ += got;
            if (!out(stream_->out.data(), got)) return state_ = State::stopped;
        }
        if (r == Z_STREAM_END) return state_ = (z.avail_in > 0 || n > 0) ? State::corrupt : State::done;
        // A full output buffer may leave more output behind; otherwise the input is used up.
        if (z.avail_out > 0 && z.avail_in == 0 && n == 0) return state_;
    }
}

BoundedInflate::State BoundedInflate::finish() {
    if (state_ == State::more) state_ = State::corrupt;
    return state_;
}

}  // namespace df::setup

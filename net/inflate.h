#pragma once
// The packed copy of a release file, a gzip stream of one member (zlib), inflated with a bound:
// the stream may yield no more bytes than the file it stands for, so a hostile server's stream
// costs at most that much work and never a byte more on disk. Portable.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace df::setup {

// Receives each piece of inflated output in order; returning false stops the stream.
using InflateSink = std::function<bool(const char* data, std::size_t size)>;

class BoundedInflate {
public:
    // How the stream stands after the input so far.
    enum class State {
        more,      // consistent so far; more input is needed
        done,      // one whole member ended, with its trailer checked
        too_long,  // it would yield more than the bound
        corrupt,   // not a gzip member, bad data or check value, or bytes after its end
        stopped,   // the sink returned false
    };

    // A stream that may yield at most limit bytes.
    explicit BoundedInflate(std::uint64_t limit);
    ~BoundedInflate();
    BoundedInflate(const BoundedInflate&) = delete;
    BoundedInflate& operator=(const BoundedInflate&) = delete;

    // Inflates n more input bytes, handing the output to out (never more than the bound in all).
    // Once the state is no longer more, it stays as it is, except that input after done is
    // corrupt.
    State feed(const void* data, std::size_t n, const InflateSink& out);
    // The state at the end of the input: more (the stream was cut short) becomes corrupt.
    State finish();
    // The inflated bytes handed to the sink so far.
    std::uint64_t produced() const { return produced_; }

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    std::uint64_t limit_;
    std::uint64_t produced_ = 0;
    State state_ = State::more;
};

}  // namespace df::setup

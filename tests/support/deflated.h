#pragma once
// Bytes packed by zlib's deflate at level 9, as the release tool packs a file. Portable.
#include <zlib.h>

#include <gtest/gtest.h>

#include <string>

namespace df::test {

// bytes as one gzip member (window_bits 31) or a zlib stream (15).
inline std::string deflated(const std::string& bytes, int window_bits = 31) {
    z_stream z{};
    EXPECT_EQ(::deflateInit2(&z, 9, Z_DEFLATED, window_bits, 9, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(::deflateBound(&z, bytes.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(::deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    ::deflateEnd(&z);
    return out;
}

}  // namespace df::test

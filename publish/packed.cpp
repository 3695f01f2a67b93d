#include "publish/packed.h"

#include "net/inflate.h"
#include "net/sha256.h"

#include <zlib.h>

#include <array>

namespace df::publish {
namespace fs = std::filesystem;
namespace {

// One deflate stream writing a gzip member with the fixed header.
struct Deflater {
    z_stream z{};
    gz_header header{};  // read by deflate until the header is out
    bool open = false;
    Deflater() {
        // 16 + 15: a gzip wrapper and the largest window; memLevel 9: the most memory, the best ratio.
        open = ::deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY) == Z_OK;
        header.os = 255;  // "unknown": the same from every build (zlib writes its system's code otherwise)
        open = open && ::deflateSetHeader(&z, &header) == Z_OK;
    }
    ~Deflater() { ::deflateEnd(&z); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

}  // namespace

bool packing_pays(std::uint64_t packed, std::uint64_t size) {
    // size = 8q + r: the largest packed count that pays is floor(7 * size / 8) = 7q + floor(7r / 8).
    return packed <= size / 8 * 7 + size % 8 * 7 / 8;
}

Result<std::optional<Digest>> pack_file(const fs::path& source, std::uint64_t size, const std::vector<fs::path>& destinations) {
    Deflater d;
    if (!d.open) return Failure{"cannot pack " + shown_path(source) + ": zlib did not start"};
    Outputs out(destinations);
    std::array<unsigned char, 65536> buffer;
    bool pays = true, broken = false;
    // Deflates what is in d.z's input (all of it, and the trailer with Z_FINISH) into out.
    auto drain = [&](int flush) {
        int r = Z_OK;
        do {
            d.z.next_out = buffer.data();
            d.z.avail_out = static_cast<uInt>(buffer.size());
            r = ::deflate(&d.z, flush);
            if (r == Z_STREAM_ERROR) {
                broken = true;
                return false;
            }
            if (!out.write(buffer.data(), buffer.size() - d.z.avail_out)) return false;
            if (!packing_pays(out.size(), size)) {
                pays = false;
                return false;
            }
        } while (d.z.avail_out == 0 || (flush == Z_FINISH && r != Z_STREAM_END));
        return true;
    };
    Result<> read = read_pieces(source, [&](const char* data, std::size_t n) {
        d.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        d.z.avail_in = static_cast<uInt>(n);  // read_pieces hands at most a MiB at a time
        return drain(Z_NO_FLUSH);
    });
    if (read && pays && !broken) drain(Z_FINISH);
    Result<Digest> written = out.finish();
    if (!read) return Failure{read.error()};
    if (!written) return Failure{written.error()};
    if (broken) return Failure{"cannot pack " + shown_path(source) + ": zlib refused the stream"};
    if (!pays) return std::optional<Digest>();
    return std::optional<Digest>(*written);
}

std::string packed_copy_problem(const fs::path& path, std::uint64_t packed_size, const std::string& packed_sha256,
                                std::uint64_t size, const std::string& sha256) {
    df::setup::BoundedInflate inflate(size);
    df::setup::Sha256 inflated;
    Outputs packed({});  // no file: the packed copy's own size and digest
    auto state = df::setup::BoundedInflate::State::more;
    Result<> read = read_pieces(path, [&](const char* data, std::size_t n) {
        packed.write(data, n);
        state = inflate.feed(data, n, [&](const char* out, std::size_t got) {
            inflated.update(out, got);
            return true;
        });
        return true;  // read to the end, so the packed digest covers every byte
    });
    if (!read) return read.error();
    Result<Digest> digest = packed.finish();
    if (!digest) return digest.error();
    if (digest->size != packed_size || digest->sha256 != packed_sha256) return "its size or SHA-256 is not the manifest's";
    using State = df::setup::BoundedInflate::State;
    state = inflate.finish();
    if (state == State::too_long) return "it inflates to more than the file's " + std::to_string(size) + " bytes";
    if (state != State::done) return "it is not one whole gzip member";
    if (inflate.produced() != size || inflated.finish() != sha256) return "it inflates to other bytes than the file's";
    return {};
}

}  // namespace df::publish

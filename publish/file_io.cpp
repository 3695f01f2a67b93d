#include "publish/file_io.h"

#include "net/sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace df::publish {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t COPY_BUFFER = 1u << 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
// A C stream, whose calls set errno when they fail (unlike the C++ streams').
using UniqueStream = std::unique_ptr<std::FILE, FileCloser>;

UniqueStream open_stream(const fs::path& p, bool write) {
#ifdef _WIN32
    return UniqueStream(::_wfopen(p.c_str(), write ? L"wb" : L"rb"));
#else
    return UniqueStream(std::fopen(p.c_str(), write ? "wb" : "rb"));
#endif
}

// failure with the text of an errno value.
Failure system_failure(const std::string& what, const fs::path& p, int code) {
    return failure(what, p, std::strerror(code));
}

// Closes out, returning errno of a failed close (0 when it went well).
int close_stream(UniqueStream& out) { return std::fclose(out.release()) == 0 ? 0 : errno; }

}  // namespace

Failure failure(const std::string& what, const fs::path& p, const std::string& reason) {
    return Failure{"cannot " + what + " " + shown_path(p) + ": " + reason};
}

Result<Digest> copy_hashing(const fs::path& source, const std::vector<fs::path>& destinations) {
    UniqueStream in = open_stream(source, false);
    if (!in) return system_failure("read", source, errno);
    std::vector<UniqueStream> outs;
    for (const fs::path& d : destinations) {
        outs.push_back(open_stream(d, true));
        if (!outs.back()) return system_failure("write", d, errno);
    }
    df::setup::Sha256 hash;
    std::unique_ptr<char[]> buffer(new char[COPY_BUFFER]);
    Digest digest;
    for (;;) {
        std::size_t got = std::fread(buffer.get(), 1, COPY_BUFFER, in.get());
        if (got == 0 && std::ferror(in.get())) return system_failure("read", source, errno);
        if (got == 0) break;
        hash.update(buffer.get(), got);
        for (std::size_t i = 0; i < outs.size(); ++i) {
            if (std::fwrite(buffer.get(), 1, got, outs[i].get()) != got) return system_failure("write", destinations[i], errno);
        }
        digest.size += got;
    }
    for (std::size_t i = 0; i < outs.size(); ++i) {
        if (int code = close_stream(outs[i])) return system_failure("write", destinations[i], code);
    }
    digest.sha256 = hash.finish();
    if (digest.sha256.empty()) return Failure{"cannot compute the SHA-256 of " + shown_path(source)};
    return digest;
}

Result<> write_text(const fs::path& p, const std::string& text) {
    UniqueStream out = open_stream(p, true);
    if (!out) return system_failure("write", p, errno);
    if (std::fwrite(text.data(), 1, text.size(), out.get()) != text.size()) return system_failure("write", p, errno);
    if (int code = close_stream(out)) return system_failure("write", p, code);
    return {};
}

Result<std::string> read_text(const fs::path& p) {
    UniqueStream in = open_stream(p, false);
    if (!in) return system_failure("read", p, errno);
    std::string text;
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, in.get())) > 0;) text.append(buffer, got);
    if (std::ferror(in.get())) return system_failure("read", p, errno);
    return text;
}

}  // namespace df::publish

#include "publish/file_io.h"

#include "net/sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

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

Result<> read_pieces(const fs::path& source, const std::function<bool(const char*, std::size_t)>& each) {
    UniqueStream in = open_stream(source, false);
    if (!in) return system_failure("read", source, errno);
    std::unique_ptr<char[]> buffer(new char[COPY_BUFFER]);
    for (;;) {
        std::size_t got = std::fread(buffer.get(), 1, COPY_BUFFER, in.get());
        if (got == 0 && std::ferror(in.get())) return system_failure("read", source, errno);
        if (got == 0 || !each(buffer.get(), got)) return {};
    }
}

struct Outputs::State {
    std::vector<fs::path> paths;
    std::vector<UniqueStream> streams;
    df::setup::Sha256 hash;
    std::optional<Failure> failed;
};

Outputs::Outputs(const std::vector<fs::path>& paths) : state_(std::make_unique<State>()) {
    state_->paths = paths;
    for (const fs::path& p : paths) {
        state_->streams.push_back(open_stream(p, true));
        if (!state_->streams.back() && !state_->failed) state_->failed = system_failure("write", p, errno);
    }
}

Outputs::~Outputs() = default;

bool Outputs::write(const void* data, std::size_t n) {
    if (state_->failed) return false;
    state_->hash.update(data, n);
    for (std::size_t i = 0; i < state_->streams.size(); ++i) {
        if (std::fwrite(data, 1, n, state_->streams[i].get()) != n) {
            state_->failed = system_failure("write", state_->paths[i], errno);
            return false;
        }
    }
    size_ += n;
    return true;
}

Result<Digest> Outputs::finish() {
    for (std::size_t i = 0; i < state_->streams.size(); ++i) {
        if (!state_->streams[i]) continue;
        if (int code = close_stream(state_->streams[i]); code && !state_->failed) {
            state_->failed = system_failure("write", state_->paths[i], code);
        }
    }
    if (state_->failed) return *state_->failed;
    Digest digest{size_, state_->hash.finish()};
    if (digest.sha256.empty()) return Failure{"the system cannot compute a SHA-256"};
    return digest;
}

Result<Digest> copy_hashing(const fs::path& source, const std::vector<fs::path>& destinations) {
    Outputs out(destinations);
    Result<> read = read_pieces(source, [&](const char* data, std::size_t n) { return out.write(data, n); });
    Result<Digest> written = out.finish();
    if (!read) return Failure{read.error()};
    return written;
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

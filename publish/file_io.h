#pragma once
// The release tool's file reads and writes, through C streams, whose calls set errno when they
// fail (unlike the C++ streams'), so every failure says why. Portable.
#include "publish/build_folder.h"
#include "publish/result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace df::publish {

// A file's size and lower-case hex SHA-256.
struct Digest {
    std::uint64_t size = 0;
    std::string sha256;
};

// "cannot <what> <path>: <reason>".
Failure failure(const std::string& what, const std::filesystem::path& p, const std::string& reason);

// Reads source to its end, or until each returns false, handing each piece to each in turn.
Result<> read_pieces(const std::filesystem::path& source, const std::function<bool(const char*, std::size_t)>& each);

// Files created (or truncated) together that receive the same bytes, and the size and SHA-256
// of those bytes. A failed write is kept: later writes do nothing, and finish gives it.
class Outputs {
public:
    explicit Outputs(const std::vector<std::filesystem::path>& paths);
    ~Outputs();
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;
    // Writes n bytes to every file; false once anything failed.
    bool write(const void* data, std::size_t n);
    // The bytes written so far.
    std::uint64_t size() const { return size_; }
    // Closes every file: the digest of what was written, or the first failure.
    Result<Digest> finish();

private:
    struct State;
    std::unique_ptr<State> state_;
    std::uint64_t size_ = 0;
};

// Reads source once, hashing its bytes and writing them to every destination (none: a digest).
Result<Digest> copy_hashing(const std::filesystem::path& source, const std::vector<std::filesystem::path>& destinations);

// Creates or truncates p with text.
Result<> write_text(const std::filesystem::path& p, const std::string& text);

// The whole text of p.
Result<std::string> read_text(const std::filesystem::path& p);

}  // namespace df::publish

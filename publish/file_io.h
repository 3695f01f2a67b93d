#pragma once
// The release tool's file reads and writes, through C streams, whose calls set errno when they
// fail (unlike the C++ streams'), so every failure says why. Portable.
#include "publish/build_folder.h"
#include "publish/result.h"

#include <cstdint>
#include <filesystem>
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

// Reads source once, hashing its bytes and writing them to every destination (none: a digest).
Result<Digest> copy_hashing(const std::filesystem::path& source, const std::vector<std::filesystem::path>& destinations);

// Creates or truncates p with text.
Result<> write_text(const std::filesystem::path& p, const std::string& text);

// The whole text of p.
Result<std::string> read_text(const std::filesystem::path& p);

}  // namespace df::publish

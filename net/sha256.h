#pragma once
// SHA-256 of a file through Windows CNG.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace df::setup {

// Lower-case hex digest of the whole file, or nothing when it cannot be opened, read or hashed;
// bytes_read (when given) receives the byte count once the whole file was read.
std::optional<std::string> sha256_file(const std::wstring& path, std::uint64_t* bytes_read = nullptr);

// True when computed is not empty and equals expected with ASCII letters folded.
bool digest_equals(std::string_view computed, std::string_view expected);

}  // namespace df::setup

#pragma once
// A file that came packed: its packed copy inflated into its part file, bounded by and checked
// against the file's own size and digest (Windows).
#include "job/failure.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace df::setup {

// Inflates the packed copy at packed into the part file part, never writing more than size
// bytes, and checks what it wrote against size and sha256; the part file is flushed to disk and
// the packed copy removed on success. On failure both are removed: a mismatch (the stream is
// corrupt, would inflate past size, or its bytes are not the file's; the message names url),
// cancelled, or a local fault (cannot write part).
std::optional<Failure> unpack(const std::wstring& packed, const std::wstring& part, std::uint64_t size,
                              const std::string& sha256, const std::string& url, const std::atomic<bool>* cancel);

}  // namespace df::setup

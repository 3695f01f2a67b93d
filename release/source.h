#pragma once
// The two release sources. Portable.
#include <cstdint>
#include <string>

namespace df::setup {

enum class Source : std::int32_t { github = 0, mirror = 1 };

// "mirror" for Source::mirror, "github" for every other value.
inline const char* source_name(Source s) { return s == Source::mirror ? "mirror" : "github"; }

}  // namespace df::setup

#pragma once
// ASCII letter case of protocol texts, digests and names: only A to Z fold onto a to z, whatever
// the locale. Portable.
#include <string>
#include <string_view>

namespace df::setup {

// c with A to Z folded onto a to z.
constexpr char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// s with A to Z folded onto a to z.
std::string ascii_lowered(std::string_view s);

// Whether a and b are equal with A to Z folded.
bool equals_nocase(std::string_view a, std::string_view b);

// Whether s begins with prefix, A to Z folded in both.
bool starts_with_nocase(std::string_view s, std::string_view prefix);

}  // namespace df::setup

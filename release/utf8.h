#pragma once
// UTF-8 sequences, byte by byte, and UTF-16 ones unit by unit: the one decoder and encoder of the
// portable code (file-name keys of the plan, build-folder names of the release tool). Portable.
#include <cstddef>
#include <string>
#include <string_view>

namespace df::setup {

// The length (1 to 4) of the valid UTF-8 sequence at the start of s, or 0 when s is empty or
// starts with none (a stray byte, a sequence cut short, overlong, a surrogate, above U+10FFFF).
std::size_t utf8_sequence(std::string_view s);

// The code point of the valid sequence of n bytes (from utf8_sequence) at the start of s.
char32_t utf8_code_point(std::string_view s, std::size_t n);

// The length (1 or 2) of the valid UTF-16 sequence at the start of s (a surrogate pair, or one
// unit that is no surrogate), or 0 when s is empty or starts with an unpaired surrogate.
std::size_t utf16_sequence(std::u16string_view s);

// The code point of the valid sequence of n units (from utf16_sequence) at the start of s.
char32_t utf16_code_point(std::u16string_view s, std::size_t n);

// Appends the code point (not a surrogate, at most U+10FFFF) as UTF-8.
void append_utf8(std::string& out, char32_t cp);

}  // namespace df::setup

#pragma once
// The bilingual text table and the language choice. Portable.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace df::setup {

// One row of the text table: key (ASCII, lower case with underscores), English and Chinese text.
// All three point to static storage.
struct TextEntry {
    const char* key;
    const wchar_t* english;
    const wchar_t* chinese;
};

inline constexpr std::size_t TEXT_TABLE_SIZE = 44;

// Every text the user sees, in search order; keys are unique.
extern const TextEntry TEXT_TABLE[TEXT_TABLE_SIZE];

// Process-wide language flag: written at start-up only, read afterwards.
extern bool use_chinese;

// The text of key in the given language (first row whose key is byte-for-byte equal);
// "?" for a key in no row. Static storage; nothing to free.
const wchar_t* get_text(std::string_view key, bool chinese);

// get_text(key, use_chinese).
const wchar_t* ui_text(std::string_view key);

// True when the primary language (low 10 bits) of the LANGID is Chinese (0x04).
bool is_chinese_ui_language(std::uint16_t langid);

// The "--lang" rule: true exactly when value begins with "zh" (lower case).
bool lang_value_selects_chinese(std::wstring_view value);

}  // namespace df::setup

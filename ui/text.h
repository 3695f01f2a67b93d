#pragma once
// The bilingual text table. Portable.
#include <cstdint>
#include <string_view>

namespace df::setup {

// Process-wide language flag: written at start-up only, read afterwards.
extern bool use_chinese;

// The text of key in the current language; "?" for a key in no row. Static storage.
const wchar_t* ui_text(std::string_view key);

// True when the primary language (low 10 bits) of the LANGID is Chinese (0x04).
bool is_chinese_ui_language(std::uint16_t langid);

// The "--lang" rule: true exactly when value begins with "zh" (lower case).
bool lang_value_selects_chinese(std::wstring_view value);

}  // namespace df::setup

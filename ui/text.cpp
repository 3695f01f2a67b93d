#include "ui/text.h"

namespace df::setup {

bool use_chinese = false;

bool is_chinese_ui_language(std::uint16_t langid) { return (langid & 0x3FF) == 0x04; }

bool lang_value_selects_chinese(std::wstring_view value) {
    return value.size() >= 2 && value[0] == L'z' && value[1] == L'h';
}

// Placeholder until the text table lands.
const wchar_t* ui_text(std::string_view) { return L"?"; }

}  // namespace df::setup

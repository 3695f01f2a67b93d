#include "ui/text.h"

namespace df::setup {

bool use_chinese = false;

bool is_chinese_ui_language(std::uint16_t langid) { return (langid & 0x3FF) == 0x04; }

bool lang_value_selects_chinese(std::wstring_view value) {
    return value.size() >= 2 && value[0] == L'z' && value[1] == L'h';
}

const wchar_t* get_text(std::string_view key, bool chinese) {
    // A linear scan of a few dozen rows: cheap enough for every status update, and no index to build.
    for (const TextEntry& row : TEXT_TABLE) {
        if (key == row.key) return chinese ? row.chinese : row.english;
    }
    return L"?";
}

const wchar_t* ui_text(std::string_view key) { return get_text(key, use_chinese); }

}  // namespace df::setup

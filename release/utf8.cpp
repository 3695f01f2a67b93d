#include "release/utf8.h"

namespace df::setup {

std::size_t utf8_sequence(std::string_view s) {
    if (s.empty()) return 0;
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = b(0);
    if (c < 0x80) return 1;
    std::size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
    }
    if (c == 0xE0 && b(1) < 0xA0) return 0;  // overlong
    if (c == 0xED && b(1) > 0x9F) return 0;  // surrogate
    if (c == 0xF0 && b(1) < 0x90) return 0;  // overlong
    if (c == 0xF4 && b(1) > 0x8F) return 0;  // above U+10FFFF
    return n;
}

char32_t utf8_code_point(std::string_view s, std::size_t n) {
    auto b = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(s[i])); };
    if (n == 1) return b(0);
    char32_t cp = b(0) & (0x7Fu >> n);
    for (std::size_t i = 1; i < n; ++i) cp = cp << 6 | (b(i) & 0x3Fu);
    return cp;
}

std::size_t utf16_sequence(std::u16string_view s) {
    if (s.empty()) return 0;
    auto high = [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
    auto low = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
    if (high(s[0])) return s.size() > 1 && low(s[1]) ? 2 : 0;
    return low(s[0]) ? 0 : 1;
}

char32_t utf16_code_point(std::u16string_view s, std::size_t n) {
    if (n == 1) return s[0];
    return 0x10000 + ((static_cast<char32_t>(s[0]) - 0xD800) << 10) + (static_cast<char32_t>(s[1]) - 0xDC00);
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace df::setup

#include "net/sha256.h"

namespace df::setup {

bool digest_equals(std::string_view computed, std::string_view expected) {
    if (computed.empty() || computed.size() != expected.size()) return false;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < computed.size(); ++i) {
        if (lower(computed[i]) != lower(expected[i])) return false;
    }
    return true;
}

std::string lower_hex(std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        text.push_back(hex[b >> 4]);
        text.push_back(hex[b & 0xF]);
    }
    return text;
}

}  // namespace df::setup

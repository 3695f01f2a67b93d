#include "net/sha256.h"

#include "net/ascii.h"

namespace df::setup {

bool digest_equals(std::string_view computed, std::string_view expected) {
    return !computed.empty() && equals_nocase(computed, expected);
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

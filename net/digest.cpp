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

}  // namespace df::setup

#include "release/version.h"

namespace df::setup {
namespace {

constexpr std::size_t MAX_NUMBER_DIGITS = 9;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A non-empty run of at most nine digits; its value always fits 32 bits.
std::optional<std::uint32_t> small_number(std::string_view text) {
    if (text.empty() || text.size() > MAX_NUMBER_DIGITS) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (!is_digit(c)) return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

int sign(std::int64_t d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

// Byte-wise comparison as unsigned bytes; on a common prefix the shorter text is less.
int compare_bytes(std::string_view a, std::string_view b) {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return sign(static_cast<std::int64_t>(a.size()) - static_cast<std::int64_t>(b.size()));
}

}  // namespace

std::vector<std::string> split_on(std::string_view text, char sep) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(sep, start);
        if (at == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
}

std::optional<Version> parse_version(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    if (!text.empty() && (text.front() == 'v' || text.front() == 'V')) text.remove_prefix(1);
    if (auto plus = text.find('+'); plus != std::string_view::npos) text = text.substr(0, plus);

    Version v;
    std::string_view core = text;
    if (auto dash = text.find('-'); dash != std::string_view::npos) {
        core = text.substr(0, dash);
        std::string_view pre = text.substr(dash + 1);
        if (pre.empty()) return std::nullopt;
        v.prerelease = std::string(pre);
    }

    auto pieces = split_on(core, '.');
    if (pieces.empty() || pieces.size() > 3) return std::nullopt;
    std::uint32_t numbers[3] = {0, 0, 0};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        auto n = small_number(pieces[i]);
        if (!n) return std::nullopt;
        numbers[i] = *n;
    }
    v.major = numbers[0];
    v.minor = numbers[1];
    v.patch = numbers[2];
    return v;
}

int compare_versions(std::string_view a, std::string_view b) {
    auto va = parse_version(a);
    auto vb = parse_version(b);
    if (!va) return vb ? -1 : 0;
    if (!vb) return 1;
    if (va->major != vb->major) return va->major < vb->major ? -1 : 1;
    if (va->minor != vb->minor) return va->minor < vb->minor ? -1 : 1;
    if (va->patch != vb->patch) return va->patch < vb->patch ? -1 : 1;
    return compare_prerelease(va->prerelease, vb->prerelease);
}

int compare_prerelease(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    if (a.empty()) return 1;
    if (b.empty()) return -1;
    auto ia = split_on(a, '.');
    auto ib = split_on(b, '.');
    std::size_t n = ia.size() < ib.size() ? ia.size() : ib.size();
    for (std::size_t i = 0; i < n; ++i) {
        auto na = small_number(ia[i]);
        auto nb = small_number(ib[i]);
        if (na && nb) {
            if (*na != *nb) return *na < *nb ? -1 : 1;
        } else if (na) {
            return -1;
        } else if (nb) {
            return 1;
        } else if (int c = compare_bytes(ia[i], ib[i]); c != 0) {
            return c;
        }
    }
    return sign(static_cast<std::int64_t>(ia.size()) - static_cast<std::int64_t>(ib.size()));
}

std::string version_from_tag(std::string_view tag) {
    if (tag.size() >= 2 && (tag[0] == 'v' || tag[0] == 'V') && is_digit(tag[1])) {
        return std::string(tag.substr(1));
    }
    return std::string(tag);
}

}  // namespace df::setup

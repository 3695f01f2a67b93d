#include "net/http_text.h"

#include "net/ascii.h"

namespace df::setup {

std::string user_agent() { return std::string("duskfern-setup/") + SETUP_VERSION + " (+" + PROJECT_PAGE + ")"; }

std::optional<std::string> winhttp_code_text(std::uint32_t code) {
    if (code < 12000 || code > 12193) return std::nullopt;
    switch (code) {
        case 12002: return std::string("timed out");
        case 12007: return std::string("name not resolved");
        case 12017: return std::string("cancelled");
        case 12029: return std::string("cannot connect");
        case 12030: return std::string("connection reset");
        case 12037: return std::string("certificate expired or not yet valid");
        case 12038: return std::string("certificate name does not match");
        case 12044: return std::string("the server asks for a client certificate");
        case 12045: return std::string("certificate not trusted");
        case 12157: return std::string("TLS failure (secure channel error)");
        case 12169: return std::string("certificate not valid");
        case 12175: return std::string("TLS failure");
        case 12179: return std::string("certificate not valid for this use");
        default: return "winhttp error " + std::to_string(code);
    }
}

std::string request_headers(const ByteRange& range) {
    std::string h = "Accept: application/vnd.github+json, application/octet-stream, */*\r\n";
    if (range.first > 0 || range.last) {
        h += "Range: bytes=" + std::to_string(range.first) + "-";
        if (range.last) h += std::to_string(*range.last);
        h += "\r\n";
    }
    return h;
}

int receive_timeout_ms(int timeout_ms) { return timeout_ms > MIN_RECEIVE_TIMEOUT_MS ? timeout_ms : MIN_RECEIVE_TIMEOUT_MS; }

std::wstring request_path(std::wstring_view path, std::wstring_view extra) {
    std::wstring p(path);
    std::wstring e(extra);
    // A fragment ends the path part or the query; whichever holds it, nothing after it is sent.
    if (auto hash = p.find(L'#'); hash != std::wstring::npos) {
        p.erase(hash);
        e.clear();
    }
    if (auto hash = e.find(L'#'); hash != std::wstring::npos) e.erase(hash);
    if (p.empty()) p = L"/";
    return p + e;
}

namespace {

// Unsigned decimal without sign, spaces or overflow; nothing otherwise.
std::optional<std::uint64_t> parse_u64(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    if (s.empty() || s.size() > 20) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        std::uint64_t d = static_cast<std::uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

}  // namespace

std::optional<ContentRange> parse_content_range(std::string_view text) {
    std::string_view r = text;
    while (!r.empty() && r.front() == ' ') r.remove_prefix(1);
    if (r.size() < 6 || !starts_with_nocase(r, "bytes") || (r[5] != ' ' && r[5] != '\t')) return std::nullopt;
    r.remove_prefix(5);
    auto dash = r.find('-');
    auto slash = r.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return std::nullopt;
    auto first = parse_u64(r.substr(0, dash));
    auto last = parse_u64(r.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *last < *first || *last == UINT64_MAX) return std::nullopt;
    ContentRange out{*first, *last, std::nullopt};
    std::string_view total = r.substr(slash + 1);
    while (!total.empty() && (total.back() == ' ' || total.back() == '\t')) total.remove_suffix(1);
    if (total != "*") {
        out.total = parse_u64(total);
        if (!out.total || *out.total <= *last) return std::nullopt;
    }
    return out;
}

std::optional<std::uint64_t> announced_body_length(std::string_view content_length, std::string_view content_range) {
    if (auto n = parse_u64(content_length)) return n;
    auto range = parse_content_range(content_range);
    if (!range) return std::nullopt;
    return range->last - range->first + 1;
}

std::uint32_t retry_pause_ms(int attempt) {
    if (attempt < 0) attempt = 0;
    if (attempt > 20) attempt = 20;
    return 500u << attempt;
}

}  // namespace df::setup

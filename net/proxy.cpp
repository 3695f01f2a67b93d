#include "net/proxy.h"

#include "net/ascii.h"

namespace df::setup {
namespace {

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

bool is_ipv6_char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

}  // namespace

const char* proxy_problem_text(ProxyProblem p) {
    switch (p) {
        case ProxyProblem::ok: return "";
        case ProxyProblem::empty: return "empty";
        case ProxyProblem::other_scheme: return "only http:// proxies";
        case ProxyProblem::user_info: return "no user name or password in the value";
        case ProxyProblem::bad_host: return "bad host";
        case ProxyProblem::no_port: return "no port";
        case ProxyProblem::bad_port: return "port not from 1 to 65535";
    }
    return "";
}

ProxyProblem parse_proxy(std::string_view v, ProxyAddress& out) {
    if (v.empty()) return ProxyProblem::empty;
    if (starts_with_nocase(v, "http://")) {
        v.remove_prefix(7);
    } else if (v.find("://") != std::string_view::npos) {
        return ProxyProblem::other_scheme;
    }
    if (!v.empty() && v.back() == '/') v.remove_suffix(1);
    if (v.find('@') != std::string_view::npos) return ProxyProblem::user_info;
    if (v.empty()) return ProxyProblem::bad_host;

    std::string_view host, rest;
    if (v.front() == '[') {
        std::size_t close = v.find(']');
        if (close == std::string_view::npos || close == 1) return ProxyProblem::bad_host;
        host = v.substr(0, close + 1);
        for (char c : host.substr(1, host.size() - 2)) {
            if (!is_ipv6_char(c)) return ProxyProblem::bad_host;
        }
        rest = v.substr(close + 1);
    } else {
        std::size_t colon = v.find(':');
        host = v.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : v.substr(colon);
        if (host.empty() || host.front() == '.' || host.front() == '-') return ProxyProblem::bad_host;
        for (char c : host) {
            if (!is_name_char(c)) return ProxyProblem::bad_host;
        }
    }
    if (rest.empty() || rest.front() != ':' || rest.size() == 1) return ProxyProblem::no_port;
    rest.remove_prefix(1);
    if (rest.size() > 5) return ProxyProblem::bad_port;
    unsigned long port = 0;
    for (char c : rest) {
        if (c < '0' || c > '9') return ProxyProblem::bad_port;
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (port < 1 || port > 65535) return ProxyProblem::bad_port;
    out.host = std::string(host);
    out.port = static_cast<std::uint16_t>(port);
    return ProxyProblem::ok;
}

std::string proxy_text(const ProxyAddress& p) { return p.host + ":" + std::to_string(p.port); }

std::string proxy_for_scheme(std::string_view list, bool secure) {
    const std::string_view wanted = secure ? "https" : "http";
    std::string_view first_plain;
    while (!list.empty()) {
        const std::size_t end = list.find_first_of("; \t\r\n");
        std::string_view entry = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
        if (entry.empty()) continue;
        std::string_view scheme;
        if (const std::size_t eq = entry.find('='); eq != std::string_view::npos) {
            scheme = entry.substr(0, eq);
            entry.remove_prefix(eq + 1);
        }
        if (const std::size_t sep = entry.find("://"); sep != std::string_view::npos) entry.remove_prefix(sep + 3);
        if (entry.empty()) continue;
        if (!scheme.empty() && equals_nocase(scheme, wanted)) return std::string(entry);
        if (scheme.empty() && first_plain.empty()) first_plain = entry;
    }
    return std::string(first_plain);
}

std::string proxy_question_line(const ProxyQuestion& q) {
    const std::string who = q.proxy.empty() ? "the proxy" : "the proxy " + q.proxy;
    return who + " asks for a user name and password (http 407, " + q.scheme + ")";
}

std::string proxy_unreachable_text(const ProxyAddress& p, const std::string& system_text) {
    return "cannot reach the proxy " + proxy_text(p) + ": " + system_text;
}

}  // namespace df::setup

#pragma once
// The named proxy of a run ("--proxy HOST:PORT") and the texts of its failures. Portable.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace df::setup {

// A proxy as "--proxy" names it: a host (name, IPv4 or bracketed IPv6) and a port.
struct ProxyAddress {
    std::string host;  // as given, brackets of an IPv6 address kept
    std::uint16_t port = 0;
};

// Why a "--proxy" value is refused, or ok.
enum class ProxyProblem { ok, empty, other_scheme, user_info, bad_host, no_port, bad_port };

// The reason's short English text ("no port", ...); empty for ok.
const char* proxy_problem_text(ProxyProblem p);

// Reads "HOST:PORT" or "http://HOST:PORT" (an optional trailing "/"); the port 1 to 65535. A
// user name or password in the value is refused: they never go on a command line.
ProxyProblem parse_proxy(std::string_view value, ProxyAddress& out);

// "HOST:PORT", as WinHTTP takes a named proxy and as messages name it.
std::string proxy_text(const ProxyAddress& p);

// The proxy for a request (secure: https) in a WinHTTP proxy list (entries apart by ';' or
// white space, each "[SCHEME=][SCHEME://]HOST[:PORT]"): the first entry for the request's
// scheme, else the first without one; "HOST[:PORT]", or empty when the list has none.
std::string proxy_for_scheme(std::string_view list, bool secure);

// The failure of a request that a named proxy could not carry: "cannot reach the proxy " +
// HOST:PORT + ": " + the system's text.
std::string proxy_unreachable_text(const ProxyAddress& p, const std::string& system_text);

// The failures of a proxy that asks for credentials (status 407).
inline constexpr const char* PROXY_REFUSED = "the proxy refused the user name and password (http 407)";
inline constexpr const char* PROXY_ASKS = "the proxy asks for a user name and password (http 407)";
// The silent flow names where its credentials come from.
inline constexpr const char* PROXY_ASKS_SILENT =
    "the proxy asks for a user name and password (http 407): give --proxy-user and set DUSKFERN_PROXY_PASSWORD";

// A proxy user name and password, wiped (SecureZeroMemory, so Windows only) when destroyed.
// Never copied: it moves only by swap, so no second buffer holds the password.
struct ProxyCredentials {
    std::wstring user;
    std::wstring password;
    ProxyCredentials() = default;
    ProxyCredentials(const ProxyCredentials&) = delete;
    ProxyCredentials& operator=(const ProxyCredentials&) = delete;
    ~ProxyCredentials() { wipe(); }
    // Overwrites both texts (their whole capacity) and empties them.
    void wipe();
};

// Overwrites the whole capacity of s and empties it.
void wipe_text(std::wstring& s);

// What a proxy's 407 asks of the run.
struct ProxyQuestion {
    int attempt = 1;     // 1 for the first ask of the run, 2 and more after refused ones
    std::string proxy;   // "HOST:PORT" of the proxy that asks; empty when the system does not say
    std::string scheme;  // the scheme the answer would go in: "Basic", "Digest", "NTLM", "Negotiate"
    // Basic: the password would cross the network as readable as the user name.
    bool unencrypted() const { return scheme == "Basic"; }
};

// The log line of a question: "the proxy HOST:PORT asks for a user name and password (http 407,
// SCHEME)", with "the proxy" alone when its name is not known. Never holds a credential.
std::string proxy_question_line(const ProxyQuestion& q);

// Fills out with credentials for the proxy that asks q. False when there are none (the user
// cancelled, or nothing was given). May block (the window asks the user); returns within a
// fraction of a second once cancel is set.
using CredentialSource =
    std::function<bool(const ProxyQuestion& q, ProxyCredentials& out, const std::atomic<bool>* cancel)>;

// How the run reaches the network: the system's proxy settings or a named proxy, and where
// credentials for a proxy that asks come from.
struct ProxySettings {
    std::optional<ProxyAddress> named;         // "--proxy"; none: the system's settings
    CredentialSource ask;                      // empty: no credentials to give
    int max_asks = 1;                          // asks per run: 1 silent, 2 in the window
    std::string no_credentials = PROXY_ASKS;  // the failure when ask gives none
};

}  // namespace df::setup

// Fuzz entry point for the "--proxy" value rule: every input is a host and a port or a reason, a
// refusal leaves the address as it was, and an accepted value written back (proxy_text), with or
// without the scheme and the slash, reads as the same proxy.
#include "net/proxy.h"
#include "tests/release/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace df::setup;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view value(reinterpret_cast<const char*>(data), size);
    ProxyAddress out{"untouched", 7};
    ProxyProblem problem = parse_proxy(value, out);
    const std::string reason = proxy_problem_text(problem);
    if (problem != ProxyProblem::ok) {
        FUZZ_CHECK(!reason.empty());
        FUZZ_CHECK(out.host == "untouched" && out.port == 7);
        return 0;
    }
    FUZZ_CHECK(reason.empty());
    FUZZ_CHECK(!out.host.empty() && out.port >= 1);
    // A host is a name or a bracketed IPv6 address: no credentials, path, space or control byte.
    for (char c : out.host) FUZZ_CHECK(c > 0x20 && c < 0x7F && c != '@' && c != '/' && c != '\\');
    FUZZ_CHECK((out.host.front() == '[') == (out.host.back() == ']'));
    const std::string text = proxy_text(out);
    FUZZ_CHECK(text.ends_with(":" + std::to_string(out.port)));
    for (const std::string& again : {text, "http://" + text, "HTTP://" + text + "/"}) {
        ProxyAddress read;
        FUZZ_CHECK(parse_proxy(again, read) == ProxyProblem::ok);
        FUZZ_CHECK(read.host == out.host && read.port == out.port);
    }
    return 0;
}

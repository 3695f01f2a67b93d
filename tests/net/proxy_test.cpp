// The "--proxy" value rule (portable): accepted forms, and each refusal with its reason.
#include "net/proxy.h"

#include <gtest/gtest.h>

using namespace df::setup;

TEST(ProxyValue, Table) {
    struct Case {
        const char* value;
        ProxyProblem problem;
        const char* text;  // proxy_text of the accepted address
    } cases[] = {
        {"127.0.0.1:8080", ProxyProblem::ok, "127.0.0.1:8080"},
        {"http://proxy.example:3128", ProxyProblem::ok, "proxy.example:3128"},
        {"HTTP://proxy.example:3128/", ProxyProblem::ok, "proxy.example:3128"},
        {"proxy-1.corp_lan:1", ProxyProblem::ok, "proxy-1.corp_lan:1"},
        {"[::1]:65535", ProxyProblem::ok, "[::1]:65535"},
        {"proxy:08080", ProxyProblem::ok, "proxy:8080"},
        {"", ProxyProblem::empty, ""},
        {"https://proxy:3128", ProxyProblem::other_scheme, ""},
        {"socks5://proxy:1080", ProxyProblem::other_scheme, ""},
        {"ann:pw@proxy:3128", ProxyProblem::user_info, ""},
        {"http://ann@proxy:3128", ProxyProblem::user_info, ""},
        {"http://", ProxyProblem::bad_host, ""},
        {":8080", ProxyProblem::bad_host, ""},
        {"pro xy:8080", ProxyProblem::bad_host, ""},
        {"proxy/x:8080", ProxyProblem::bad_host, ""},
        {"-proxy:8080", ProxyProblem::bad_host, ""},
        {"[]:8080", ProxyProblem::bad_host, ""},
        {"[::1:8080", ProxyProblem::bad_host, ""},
        {"[::g]:8080", ProxyProblem::bad_host, ""},
        {"proxy", ProxyProblem::no_port, ""},
        {"proxy:", ProxyProblem::no_port, ""},
        {"[::1]", ProxyProblem::no_port, ""},
        {"[::1]8080", ProxyProblem::no_port, ""},
        {"proxy:0", ProxyProblem::bad_port, ""},
        {"proxy:65536", ProxyProblem::bad_port, ""},
        {"proxy:123456", ProxyProblem::bad_port, ""},
        {"proxy:+80", ProxyProblem::bad_port, ""},
        {"proxy:80 ", ProxyProblem::bad_port, ""},
        {"proxy:8080/x", ProxyProblem::bad_port, ""},
        {"proxy:80:81", ProxyProblem::bad_port, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        ProxyAddress a;
        EXPECT_EQ(parse_proxy(c.value, a), c.problem) << proxy_problem_text(parse_proxy(c.value, a));
        if (c.problem == ProxyProblem::ok) {
            EXPECT_EQ(proxy_text(a), c.text);
        }
    }
    EXPECT_STREQ(proxy_problem_text(ProxyProblem::no_port), "no port");
    EXPECT_EQ(proxy_unreachable_text(ProxyAddress{"proxy", 3128}, "cannot connect"),
              "cannot reach the proxy proxy:3128: cannot connect");
}

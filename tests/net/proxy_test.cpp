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

TEST(ProxyList, TheProxyOfARequestAndTheQuestionItAsks) {
    struct Case {
        const char* list;
        bool secure;
        const char* proxy;
    } cases[] = {
        {"proxy.corp:8080", false, "proxy.corp:8080"},
        {"proxy.corp:8080", true, "proxy.corp:8080"},
        {"http=a:1;https=b:2", false, "a:1"},
        {"http=a:1;https=b:2", true, "b:2"},
        {"HTTPS=b:2 c:3", false, "c:3"},  // no entry for http: the first without a scheme
        {"http://a:1", false, "a:1"},
        {"ftp=f:21", false, ""},
        {" ; ", false, ""},
        {"", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.list) + (c.secure ? " https" : " http"));
        EXPECT_EQ(proxy_for_scheme(c.list, c.secure), c.proxy);
    }
    ProxyQuestion q{1, "a:1", "Basic"};
    EXPECT_TRUE(q.unencrypted());
    EXPECT_EQ(proxy_question_line(q), "the proxy a:1 asks for a user name and password (http 407, Basic)");
    q = ProxyQuestion{2, "", "NTLM"};
    EXPECT_FALSE(q.unencrypted());
    EXPECT_EQ(proxy_question_line(q), "the proxy asks for a user name and password (http 407, NTLM)");
}

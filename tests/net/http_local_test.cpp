// The HTTP client's error texts, time-outs and failures that need no server.
#include <winsock2.h>  // before <windows.h>, which net/http.h brings

#include "net/error_text.h"
#include "net/http.h"

#include <gtest/gtest.h>

using namespace df::setup;

TEST(LastErrorText, NamesTheWindowsCodesOfTheTable) {
    struct Case {
        DWORD code;
        std::string text;
    } cases[] = {
        {12002, "timed out"},
        {12007, "name not resolved"},
        {12017, "cancelled"},
        {12029, "cannot connect"},
        {12030, "connection reset"},
        {12175, "TLS failure"},
        {12000, "winhttp error 12000"},
        {12001, "winhttp error 12001"},
        {12157, "TLS failure (secure channel error)"},
        {12193, "winhttp error 12193"},
        {12194, system_error_text(12194)},
        {11999, system_error_text(11999)},
        {5, system_error_text(5)},
        {10060, system_error_text(10060)},
        {0xE0000001u, system_error_text(0xE0000001u)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ::SetLastError(c.code);
        EXPECT_EQ(last_error_text("read"), "read: " + c.text);
        EXPECT_EQ(net_error_code_text(c.code), c.text);
    }
    EXPECT_EQ(system_error_text(0xE0000001u).rfind("error 3758096385", 0), 0u);
}

TEST(RequestTimeouts, ReceiveIsAtLeastThirtySecondsAndBoundsTheHeaderWait) {
    Http http;
    ASSERT_TRUE(http.is_open());
    // A request handle of its own, on a session of its own: nothing is sent.
    UniqueInternet session(::WinHttpOpen(L"t", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    ASSERT_TRUE(session);
    UniqueInternet connection(::WinHttpConnect(session.get(), L"127.0.0.1", 9, 0));
    ASSERT_TRUE(connection);
    struct Case {
        int timeout, short_ones, receive;
    } cases[] = {{8000, 8000, 30000}, {15000, 15000, 30000}, {45000, 45000, 45000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.timeout);
        UniqueInternet req(::WinHttpOpenRequest(connection.get(), L"GET", L"/", nullptr, nullptr, nullptr, 0));
        ASSERT_TRUE(req);
        set_request_timeouts(req.get(), c.timeout);
        auto query = [&](DWORD option) {
            DWORD v = 0, size = sizeof v;
            EXPECT_TRUE(::WinHttpQueryOption(req.get(), option, &v, &size)) << option;
            return static_cast<int>(v);
        };
        EXPECT_EQ(query(WINHTTP_OPTION_CONNECT_TIMEOUT), c.short_ones);
        EXPECT_EQ(query(WINHTTP_OPTION_SEND_TIMEOUT), c.short_ones);
        EXPECT_EQ(query(WINHTTP_OPTION_RECEIVE_TIMEOUT), c.receive);
        EXPECT_EQ(query(WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT), c.receive);
    }
}

TEST(Request, WithoutASessionNothingIsSent) {
    Http http{UniqueInternet()};
    EXPECT_FALSE(http.is_open());
    std::string out = "old";
    bool sink_called = false;
    NetError r = http.get_text("http://127.0.0.1:1/x", out, nullptr, 8000, 100);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "winhttp unavailable");
    EXPECT_EQ(r.http_status, 0u);
    EXPECT_TRUE(out.empty());
    r = http.request("http://127.0.0.1:1/x", 5, nullptr, 8000, [&](const char*, std::uint64_t, int) {
        sink_called = true;
        return true;
    });
    EXPECT_EQ(r.message, "winhttp unavailable");
    EXPECT_FALSE(sink_called);
}

TEST(Request, BadUrls) {
    Http http;
    for (const char* url : {"", "not a url", "ftp://127.0.0.1/x", "http//127.0.0.1/x"}) {
        SCOPED_TRACE(url);
        std::string out;
        NetError r = http.get_text(url, out, nullptr, 8000, 100);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message.rfind("bad url: ", 0), 0u) << r.message;
        EXPECT_EQ(r.message.substr(r.message.size() - std::string(url).size() - 3), std::string(" (") + url + ")");
        EXPECT_EQ(r.http_status, 0u);
    }
}

// A loopback port that nothing listens on: bound, read back and closed again.
static int closed_port() {
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 0;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        int len = sizeof a;
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ::closesocket(s);
    ::WSACleanup();
    return port;
}

TEST(Request, ConnectionRefused) {
    int port = closed_port();
    ASSERT_NE(port, 0);
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/latest.json";
    Http http;
    std::string out;
    NetError r = http.get_text(url, out, nullptr, 8000, 100);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.not_found || r.cancelled || r.hash_mismatch);
    EXPECT_EQ(r.http_status, 0u);
    EXPECT_EQ(r.message, "send: cannot connect (" + url + ")");
}

// A server that stops sending: the receive time-out (at least 30 s) ends the wait for the
// response headers, of a server and of a named proxy that accepts and never answers; the pace
// rule (1,024 bytes within every span of the receive time-out) cuts a body that stalls or is
// dripped a byte at a time, from the start or after a fast start, but not a slow and steady one,
// and such a cut ends the attempts on that source; a cancel ends a stalled read at once. The
// only slow test of the client, so every case runs side by side.
#include <winsock2.h>  // before <windows.h>, which net/http.h brings

#include "net/http.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <iterator>
#include <thread>
#include <vector>

using namespace df::setup;
using namespace df::test;

TEST(HttpStall, ReceiveTimeoutEndsSilentServerStalledBodyAndPaceTable) {
    TestServer server;
    ASSERT_TRUE(server.available());
    server.clear_journal();
    std::string data(200000, 'q');
    ASSERT_TRUE(server.put_file("silent.json", "{}"));
    ASSERT_TRUE(server.put_file("stall.bin", data));
    // The pace table: bodies fetched with get_text. No single wait of a drip reaches the time-out,
    // so only the pace rule can end it; after a fast start of 100 KiB, 30 s after the slow-down.
    const std::string fast(102400, 'f');
    struct PaceRow {
        const char* name;
        std::string path, body, fault;
        bool cut;               // else it arrives whole
        ULONGLONG at_least_ms;  // the time the row takes
        NetError result = {};
        std::string out = {};
        ULONGLONG ms = 0;
    } pace_rows[] = {
        {"drip from the start (204 s)", "/drip.json", std::string(100, ' ') + "{}", R"({"rate":0.5})", true, 29900},
        {"fast start then drip", "/fast-drip.bin", fast + std::string(200, 'd'), R"({"rate":1,"rate_after":102400})",
         true, 29900},
        {"fast start then a byte every 20 s: cut while waiting", "/fast-sparse.bin", fast + "sss",
         R"({"rate":0.05,"rate_after":102400})", true, 29900},
        {"steady 2 KiB/s for 34 s", "/steady.bin", std::string(2048 * 34, 's'), R"({"rate":2048})", false, 30000},
    };
    std::string faults = R"({"/silent.json":{"no_answer":true,"stall_seconds":90},)"
                         R"("/stall.bin":{"stall_after":50000,"stall_seconds":90})";
    for (const PaceRow& row : pace_rows) {
        ASSERT_TRUE(server.put_file(row.path.substr(1), row.body));
        faults += ",\"" + row.path + "\":" + row.fault;
    }
    // The server would hold the first two for 90 s; only the client can end them at 30 s.
    server.set_faults(faults + "}");
    std::wstring dest = scratch_folder("stall") + L"\\stall.bin";
    const std::string silent_url = server.http_base() + "/silent.json";
    const std::string stall_url = server.http_base() + "/stall.bin";

    // A proxy that accepts the connection (the system completes it for a listening socket) and
    // never answers.
    WSADATA wsa;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET silent_proxy = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof a;
    ASSERT_EQ(::bind(silent_proxy, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(silent_proxy, 4), 0);
    ASSERT_EQ(::getsockname(silent_proxy, reinterpret_cast<sockaddr*>(&a), &length), 0);
    ProxySettings via_silent;
    via_silent.named = ProxyAddress{"127.0.0.1", ntohs(a.sin_port)};

    NetError text_result, download_result, proxy_result, cancel_result;
    ULONGLONG text_ms = 0, download_ms = 0, cancel_ms = 0;
    std::thread text_thread([&] {
        Http http;
        std::string out = {};
        ULONGLONG t = ::GetTickCount64();
        text_result = http.get_text(silent_url, out, nullptr, 8000, 1024);
        text_ms = ::GetTickCount64() - t;
    });
    std::thread download_thread([&] {
        Http http;
        bool present = false;
        ULONGLONG t = ::GetTickCount64();
        download_result = http.fetch_verified(stall_url, dest, data.size(), "", nullptr, nullptr, 4, present);
        download_ms = ::GetTickCount64() - t;
    });
    std::thread proxy_thread([&] {
        Http http(via_silent);
        std::string out;
        proxy_result = http.get_text(silent_url, out, nullptr, 8000, 1024);
    });
    // A cancel while the read waits: the stalled body's first bytes arrived a second ago.
    std::thread cancel_thread([&] {
        Http http;
        std::atomic<bool> cancel{false};
        std::atomic<ULONGLONG> first_bytes{0};
        std::thread canceller([&] {
            while (first_bytes.load() == 0 || ::GetTickCount64() - first_bytes.load() < 1000) ::Sleep(20);
            cancel_ms = ::GetTickCount64();
            cancel.store(true);
        });
        cancel_result = http.request(server.http_base() + "/stall.bin", 0, &cancel, 8000,
                                     [&](const char*, std::uint64_t, int) {
                                         if (first_bytes.load() == 0) first_bytes.store(::GetTickCount64());
                                         return true;
                                     });
        cancel_ms = ::GetTickCount64() - cancel_ms;
        canceller.join();
    });
    std::vector<std::thread> pace_threads;
    for (PaceRow& row : pace_rows) {
        pace_threads.emplace_back([&row, &server] {
            Http http;
            ULONGLONG t = ::GetTickCount64();
            row.result = http.get_text(server.http_base() + row.path, row.out, nullptr, 8000, 1 << 20);
            row.ms = ::GetTickCount64() - t;
        });
    }
    text_thread.join();
    download_thread.join();
    proxy_thread.join();
    cancel_thread.join();
    ::closesocket(silent_proxy);
    ::WSACleanup();
    for (std::thread& t : pace_threads) t.join();

    EXPECT_FALSE(text_result.ok);
    EXPECT_EQ(text_result.http_status, 0u);
    EXPECT_EQ(text_result.message, "send: " + net_error_code_text(12002) + " (" + silent_url + ")");
    EXPECT_GE(text_ms, 29000u);
    EXPECT_LT(text_ms, 60000u);

    // The first proxy answers nothing: it is named, not the server behind it.
    EXPECT_EQ(proxy_result.message, "cannot reach the proxy " + proxy_text(*via_silent.named) + ": " +
                                        net_error_code_text(12002) + " (" + silent_url + ")");

    EXPECT_TRUE(cancel_result.cancelled) << cancel_result.message;
    EXPECT_LT(cancel_ms, 500u);

    // A stall is cut by the pace rule: no further attempt on that source, though 4 were allowed.
    EXPECT_FALSE(download_result.ok || download_result.hash_mismatch || download_result.cancelled);
    EXPECT_TRUE(download_result.too_slow);
    EXPECT_EQ(download_result.http_status, 200u);
    const std::string prefix = "download failed after 1 attempts: ";
    ASSERT_EQ(download_result.message.rfind(prefix, 0), 0u) << download_result.message;
    EXPECT_EQ(download_result.message.substr(prefix.size()),
              "read: " + net_error_code_text(12002) + " (" + stall_url + ")");
    EXPECT_GE(download_ms, 29000u);
    EXPECT_LT(download_ms, 60000u);
    EXPECT_EQ(file_size(dest + L".part"), std::optional<std::uint64_t>(50000)) << "kept for a resume";

    // A cut reads as the client's own time-out, soon after a span of the receive time-out came up
    // short, even while waiting (the sparse row's next byte would come at 40 s).
    for (const PaceRow& row : pace_rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.result.http_status, 200u);
        EXPECT_EQ(row.result.too_slow, row.cut);
        if (row.cut) {
            EXPECT_FALSE(row.result.ok);
            EXPECT_EQ(row.result.message, "read: " + net_error_code_text(12002) + " (" + server.http_base() +
                                              row.path + ")");
            EXPECT_LT(row.ms, 36000u);
        } else {
            EXPECT_TRUE(row.result.ok) << row.result.message;
            EXPECT_EQ(row.out, row.body);
        }
        EXPECT_GE(row.ms, row.at_least_ms);
    }

    auto j = server.journal();
    EXPECT_EQ(j.size(), 3u + std::size(pace_rows));
}

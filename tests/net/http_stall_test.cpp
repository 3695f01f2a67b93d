// A server that stops sending: the receive time-out (at least 30 s) ends the wait, for the
// response headers and in the middle of a body; and the pace rule (1,024 bytes within every span
// of the receive time-out) cuts a body dripped a byte at a time, from the start or after a fast
// start, but not a slow and steady one. The only slow test of the client, so every case runs
// side by side.
#include "net/http.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <iterator>
#include <thread>
#include <vector>

using namespace df::setup;
using namespace df::test;

namespace {

// The platform's time-out message for step what: Windows reports 12002, Wine a socket 10060.
bool is_timeout(const std::string& message, const std::string& what, const std::string& url) {
    return message == what + ": " + net_error_code_text(12002) + " (" + url + ")" ||
           message == what + ": " + net_error_code_text(10060) + " (" + url + ")";
}

}  // namespace

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

    NetError text_result, download_result;
    ULONGLONG text_ms = 0, download_ms = 0;
    std::thread text_thread([&] {
        Http http;
        std::string out = {};
        ULONGLONG t = ::GetTickCount64();
        text_result = http.get_text(silent_url, out, nullptr, 8000, 1024);
        text_ms = ::GetTickCount64() - t;
    });
    std::thread download_thread([&] {
        Http http;
        ULONGLONG t = ::GetTickCount64();
        download_result = http.download(stall_url, dest, data.size(), "", nullptr, nullptr, 1);
        download_ms = ::GetTickCount64() - t;
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
    for (std::thread& t : pace_threads) t.join();

    EXPECT_FALSE(text_result.ok);
    EXPECT_EQ(text_result.http_status, 0u);
    EXPECT_TRUE(is_timeout(text_result.message, "send", silent_url)) << text_result.message;
    EXPECT_GE(text_ms, 29000u);
    EXPECT_LT(text_ms, 60000u);

    EXPECT_FALSE(download_result.ok || download_result.hash_mismatch || download_result.cancelled);
    EXPECT_EQ(download_result.http_status, 200u);
    const std::string prefix = "download failed after 1 attempts: ";
    ASSERT_EQ(download_result.message.rfind(prefix, 0), 0u) << download_result.message;
    EXPECT_TRUE(is_timeout(download_result.message.substr(prefix.size()), "read", stall_url))
        << download_result.message;
    EXPECT_GE(download_ms, 29000u);
    EXPECT_LT(download_ms, 60000u);
    EXPECT_EQ(file_size(dest + L".part"), std::optional<std::uint64_t>(50000)) << "kept for a resume";

    // A cut reads as the client's own time-out, soon after a span of the receive time-out came up
    // short, even while waiting (the sparse row's next byte would come at 40 s).
    for (const PaceRow& row : pace_rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.result.http_status, 200u);
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
    EXPECT_EQ(j.size(), 2u + std::size(pace_rows));
}

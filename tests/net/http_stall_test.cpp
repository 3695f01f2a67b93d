// A server that stops sending: the receive time-out (at least 30 s) ends the wait, for the
// response headers, in the middle of a body, and for a body dripped a byte at a time. The only
// slow test of the client, so the three cases run side by side.
#include "net/http.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <thread>

using namespace df::setup;
using namespace df::test;

namespace {

// The platform's time-out message for step what: Windows reports 12002, Wine a socket 10060.
bool is_timeout(const std::string& message, const std::string& what, const std::string& url) {
    return message == what + ": " + net_error_code_text(12002) + " (" + url + ")" ||
           message == what + ": " + net_error_code_text(10060) + " (" + url + ")";
}

}  // namespace

TEST(HttpStall, ReceiveTimeoutEndsSilentServerStalledBodyAndDrip) {
    TestServer server;
    ASSERT_TRUE(server.available());
    server.clear_journal();
    std::string data(200000, 'q');
    ASSERT_TRUE(server.put_file("silent.json", "{}"));
    ASSERT_TRUE(server.put_file("stall.bin", data));
    ASSERT_TRUE(server.put_file("drip.json", std::string(100, ' ') + "{}"));
    // The server would hold the first two for 90 s and drip the third for 204 s (a byte every
    // 2 s, so no single wait reaches the time-out); only the client can end them at 30 s.
    server.set_faults(R"({"/silent.json":{"no_answer":true,"stall_seconds":90},)"
                      R"("/stall.bin":{"stall_after":50000,"stall_seconds":90},)"
                      R"("/drip.json":{"rate":0.5}})");
    std::wstring dest = scratch_folder("stall") + L"\\stall.bin";
    const std::string silent_url = server.http_base() + "/silent.json";
    const std::string stall_url = server.http_base() + "/stall.bin";
    const std::string drip_url = server.http_base() + "/drip.json";

    NetError text_result, download_result, drip_result;
    ULONGLONG text_ms = 0, download_ms = 0, drip_ms = 0;
    std::thread text_thread([&] {
        Http http;
        std::string out;
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
    std::thread drip_thread([&] {
        Http http;
        std::string out;
        ULONGLONG t = ::GetTickCount64();
        drip_result = http.get_text(drip_url, out, nullptr, 8000, 1 << 20);
        drip_ms = ::GetTickCount64() - t;
    });
    text_thread.join();
    download_thread.join();
    drip_thread.join();

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

    // The drip: the client's own time-out text, once a span of the receive time-out brought
    // fewer than 1,024 bytes (the next byte after 30 s, so well before the drip ends).
    EXPECT_FALSE(drip_result.ok);
    EXPECT_EQ(drip_result.http_status, 200u);
    EXPECT_EQ(drip_result.message, "read: " + net_error_code_text(12002) + " (" + drip_url + ")");
    EXPECT_GE(drip_ms, 29900u);
    EXPECT_LT(drip_ms, 36000u);

    auto j = server.journal();
    EXPECT_EQ(j.size(), 3u);
}

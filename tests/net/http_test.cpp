// Http::request and Http::get_text against the loopback release server.
#include "net/error_text.h"
#include "net/http.h"
#include "net/http_text.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

using namespace df::setup;
using namespace df::test;

namespace {

const char* ACCEPT = "application/vnd.github+json, application/octet-stream, */*";

std::string pattern(std::size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return s;
}

class HttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.available()) << "run under tools/release_server.py --run";
        server.clear_faults();
        server.clear_journal();
    }
    std::string url(const std::string& path) const { return server.http_base() + path; }

    TestServer server;
    Http http;
};

struct Chunk {
    std::uint64_t size;
    int status;
};

}  // namespace

TEST_F(HttpTest, GetTextSendsAgentAcceptAndNoRange) {
    ASSERT_TRUE(http.is_open());
    ASSERT_TRUE(server.put_file("doc.json", "{\"a\":1}"));
    std::string out = "left over";
    NetError r = http.get_text(url("/doc.json"), out, nullptr, 8000, 1024);
    EXPECT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.http_status, 200u);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(out, "{\"a\":1}");
    auto j = server.journal();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0].path, "/doc.json");
    EXPECT_EQ(j[0].range, std::nullopt);
    EXPECT_EQ(j[0].agent, "duskfern-setup/0.7.1 (+https://github.com/Hollowmint/duskfern)");
    EXPECT_EQ(j[0].accept, ACCEPT);
}

TEST_F(HttpTest, PathsOnTheWire) {
    ASSERT_TRUE(server.put_file("dir/doc.json", "x"));
    struct Case {
        std::string path_in_url, on_wire;
    } cases[] = {
        {"", "/"},
        {"/", "/"},
        {"/dir/doc.json?a=1&b=2", "/dir/doc.json?a=1&b=2"},
        {"/dir/doc.json#section", "/dir/doc.json"},
        {"/dir/doc.json?a=1#section", "/dir/doc.json?a=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path_in_url);
        server.clear_journal();
        std::string out;
        http.get_text(url(c.path_in_url), out, nullptr, 8000, 1024);
        auto j = server.journal();
        ASSERT_EQ(j.size(), 1u);
        EXPECT_EQ(j[0].path, c.on_wire);
    }
}

TEST_F(HttpTest, RangeHeaderOnlyAboveZeroAndStatusReachesTheSink) {
    std::string data = pattern(5000);
    ASSERT_TRUE(server.put_file("f.bin", data));
    for (std::uint64_t from : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{1000}}) {
        SCOPED_TRACE(from);
        server.clear_journal();
        std::string body;
        std::vector<int> statuses;
        NetError r = http.request(url("/f.bin"), from, nullptr, 8000, [&](const char* d, std::uint64_t n, int status) {
            body.append(d, n);
            statuses.push_back(status);
            return true;
        });
        EXPECT_TRUE(r.ok) << r.message;
        int expected_status = from > 0 ? 206 : 200;
        EXPECT_EQ(r.http_status, static_cast<std::uint32_t>(expected_status));
        EXPECT_EQ(body, data.substr(from));
        ASSERT_FALSE(statuses.empty());
        for (int s : statuses) EXPECT_EQ(s, expected_status);
        auto j = server.journal();
        ASSERT_EQ(j.size(), 1u);
        if (from == 0) {
            EXPECT_EQ(j[0].range, std::nullopt);
        } else {
            EXPECT_EQ(j[0].range, "bytes=" + std::to_string(from) + "-");
        }
        EXPECT_EQ(j[0].status, expected_status);
    }
}

// A sink slower than the wire: the body read ahead fills its ring and wraps around it many times,
// and every byte still reaches the sink once, in order.
TEST_F(HttpTest, SlowSinkGetsEveryByteInOrderInChunksOfTheRing) {
    std::string data = pattern(700000);
    ASSERT_TRUE(server.put_file("big.bin", data));
    std::string body;
    std::uint64_t largest = 0;
    NetError r = http.request(url("/big.bin"), 0, nullptr, 8000, [&](const char* d, std::uint64_t n, int) {
        if (body.size() < 300000) ::Sleep(5);
        body.append(d, n);
        largest = std::max(largest, n);
        return true;
    });
    EXPECT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(body == data);
    EXPECT_LE(largest, BODY_RING_SIZE);
    EXPECT_GT(largest, 0u);
}

TEST_F(HttpTest, MaxBytesAcceptsTheLimitAndRefusesOneMore) {
    const std::uint64_t MIB = 1048576;
    ASSERT_TRUE(server.put_file("exact.json", pattern(MIB)));
    ASSERT_TRUE(server.put_file("over.json", pattern(MIB + 1)));
    std::string out;
    NetError r = http.get_text(url("/exact.json"), out, nullptr, 8000, MIB);
    EXPECT_TRUE(r.ok) << r.message;
    EXPECT_EQ(out.size(), MIB);

    r = http.get_text(url("/over.json"), out, nullptr, 8000, MIB);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "write failed or response too large (" + url("/over.json") + ")");
    EXPECT_EQ(r.http_status, 200u);
    EXPECT_FALSE(r.not_found || r.cancelled || r.hash_mismatch);
    EXPECT_LE(out.size(), MIB);  // what was accepted before the refusal

    // Small limits: a body of n bytes against n - 1, n and n + 1.
    ASSERT_TRUE(server.put_file("small.json", "0123456789"));
    for (std::uint64_t limit : {9u, 10u, 11u}) {
        SCOPED_TRACE(limit);
        r = http.get_text(url("/small.json"), out, nullptr, 8000, limit);
        EXPECT_EQ(r.ok, limit >= 10) << r.message;
    }
    r = http.get_text(url("/small.json"), out, nullptr, 8000, 0);
    EXPECT_FALSE(r.ok);
}

TEST_F(HttpTest, EmptyBodySucceedsWithoutASinkCall) {
    ASSERT_TRUE(server.put_file("empty.json", ""));
    int calls = 0;
    NetError r = http.request(url("/empty.json"), 0, nullptr, 8000, [&](const char*, std::uint64_t, int) {
        ++calls;
        return true;
    });
    EXPECT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.http_status, 200u);
    EXPECT_EQ(calls, 0);
}

TEST_F(HttpTest, StatusAnswers) {
    ASSERT_TRUE(server.put_file("s.json", "{}"));
    struct Case {
        int status;
        bool not_found;
    } cases[] = {{404, true}, {500, false}, {503, false}, {403, false}, {204, false}, {416, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        server.set_faults("{\"/s.json\":{\"status\":" + std::to_string(c.status) + "}}");
        int calls = 0;
        NetError r = http.request(url("/s.json"), 0, nullptr, 8000, [&](const char*, std::uint64_t, int) {
            ++calls;
            return true;
        });
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.not_found, c.not_found);
        EXPECT_FALSE(r.cancelled || r.hash_mismatch);
        EXPECT_EQ(r.http_status, static_cast<std::uint32_t>(c.status));
        EXPECT_EQ(r.message, "http " + std::to_string(c.status) + " (" + url("/s.json") + ")");
        EXPECT_EQ(calls, 0) << "the body of a refused status is not read";
    }
    server.clear_faults();
    std::string out;
    NetError r = http.get_text(url("/missing.json"), out, nullptr, 8000, 100);
    EXPECT_TRUE(r.not_found);
    EXPECT_EQ(r.message, "http 404 (" + url("/missing.json") + ")");
}

TEST_F(HttpTest, CancelBeforeTheFirstRead) {
    ASSERT_TRUE(server.put_file("c.json", "{}"));
    std::atomic<bool> cancel{true};
    int calls = 0;
    NetError r = http.request(url("/c.json"), 0, &cancel, 8000, [&](const char*, std::uint64_t, int) {
        ++calls;
        return true;
    });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.not_found || r.hash_mismatch);
    EXPECT_EQ(r.message, "cancelled");
    EXPECT_EQ(r.http_status, 200u);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(server.journal().size(), 1u);
}

TEST_F(HttpTest, CancelBetweenChunksStopsReading) {
    ASSERT_TRUE(server.put_file("slow.bin", pattern(300000)));
    server.set_faults(R"({"/slow.bin":{"rate":100000}})");
    std::atomic<bool> cancel{false};
    std::uint64_t got = 0;
    NetError r = http.request(url("/slow.bin"), 0, &cancel, 8000, [&](const char*, std::uint64_t n, int) {
        got += n;
        cancel = true;
        return true;
    });
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.message, "cancelled");
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, 300000u);
}

TEST_F(HttpTest, SinkRefusalEndsTheTransfer) {
    ASSERT_TRUE(server.put_file("r.bin", pattern(200000)));
    int calls = 0;
    NetError r = http.request(url("/r.bin"), 0, nullptr, 8000, [&](const char*, std::uint64_t, int) {
        ++calls;
        return false;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(r.message, "write failed or response too large (" + url("/r.bin") + ")");
}

TEST_F(HttpTest, BodyCutShortIsAFailure) {
    std::string data = pattern(100000);
    ASSERT_TRUE(server.put_file("cut.json", data));
    // Windows reports the reset itself; where the platform ends the read normally, the missing
    // bytes against Content-Length say it.
    const std::string u = url("/cut.json");
    auto expect_cut = [&](const NetError& r) {
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.not_found || r.cancelled || r.hash_mismatch);
        EXPECT_TRUE(r.message == "read: connection closed early (" + u + ")" ||
                    r.message == "read: connection reset (" + u + ")")
            << r.message;
    };
    server.set_faults(R"({"/cut.json":{"cut_after":40000}})");
    std::string out;
    NetError r = http.get_text(u, out, nullptr, 8000, 1 << 20);
    expect_cut(r);
    EXPECT_EQ(r.http_status, 200u);
    EXPECT_EQ(out, data.substr(0, out.size()));
    EXPECT_LE(out.size(), 40000u);

    // A ranged answer cut short, and a cut right after the headers.
    for (const char* fault : {R"({"/cut.json":{"cut_after":10}})", R"({"/cut.json":{"cut_after":0}})"}) {
        SCOPED_TRACE(fault);
        server.set_faults(fault);
        std::uint64_t got = 0;
        r = http.request(u, 50000, nullptr, 8000, [&](const char*, std::uint64_t n, int) {
            got += n;
            return true;
        });
        expect_cut(r);
        EXPECT_EQ(r.http_status, 206u);
        EXPECT_LT(got, 50000u);
    }

    // The same file whole: no false alarm.
    server.clear_faults();
    r = http.get_text(u, out, nullptr, 8000, 1 << 20);
    EXPECT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(out == data);
}

TEST_F(HttpTest, BodyWithoutLengthEndsAtClose) {
    // An endless answer has no Content-Length: get_text's limit is what stops it.
    ASSERT_TRUE(server.put_file("e.json", pattern(1000)));
    server.set_faults(R"({"/e.json":{"endless":true}})");
    std::string out;
    NetError r = http.get_text(url("/e.json"), out, nullptr, 8000, 300000);
    EXPECT_EQ(r.message, "write failed or response too large (" + url("/e.json") + ")");
    EXPECT_LE(out.size(), 300000u);
    auto j = server.wait_journal(1);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_LT(j[0].sent, 100000000u);
}

TEST_F(HttpTest, HtmlPageIsJustText) {
    ASSERT_TRUE(server.put_file("latest.json", "{}"));
    server.set_faults(R"({"/latest.json":{"html":true}})");
    std::string out;
    NetError r = http.get_text(url("/latest.json"), out, nullptr, 8000, 1 << 20);
    EXPECT_TRUE(r.ok) << r.message;
    EXPECT_NE(out.find("<html>"), std::string::npos);
}

TEST_F(HttpTest, UntrustedCertificateIsATlsFailure) {
    ASSERT_TRUE(server.put_file("t.json", "{}"));
    const std::string u = server.https_base() + "/t.json";
    std::string out;
    NetError r = http.get_text(u, out, nullptr, 8000, 100);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.http_status, 0u);
    // Windows: 12175 ("TLS failure"); Wine reports 12157 for the same refusal.
    EXPECT_TRUE(r.message == "send: " + net_error_code_text(12175) + " (" + u + ")" ||
                r.message == "send: " + net_error_code_text(12157) + " (" + u + ")")
        << r.message;
    EXPECT_TRUE(server.journal().empty()) << "no request passes a refused certificate";
}

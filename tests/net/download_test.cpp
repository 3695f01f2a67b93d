// The verified download (Http::fetch_verified, then the move) against the loopback release
// server: resume, retries, verification, and the exact requests that went over the wire (or
// that none did).
#include "net/error_text.h"
#include "net/http.h"
#include "net/sha256.h"
#include "app/log.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <initializer_list>
#include <vector>

using namespace df::setup;
using namespace df::test;

namespace {

std::string pattern(std::size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return s;
}

// fetch_verified, then the verified part file moved over dest: the delivery of one file.
NetError download(Http& http, const std::string& url, const std::wstring& dest, std::uint64_t size,
                  const std::string& sha, const std::atomic<bool>* cancel, const ByteProgress& progress, int attempts) {
    bool present = false;
    NetError r = http.fetch_verified(url, dest, size, sha, cancel, progress, attempts, present);
    const std::wstring part = dest + L".part";
    if (r.ok && !present && !::MoveFileExW(part.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD code = ::GetLastError();
        r = NetError{};
        r.local_fault = true;
        r.message = "cannot rename " + to_utf8(part) + ": " + system_error_text(code);
    }
    return r;
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.available()) << "run under tools/release_server.py --run";
        server.clear_faults();
        server.clear_journal();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = scratch_folder(std::string("dl-") + info->name());
    }

    // Serves bytes as name; returns the file's SHA-256 text.
    std::string serve(const std::string& name, const std::string& bytes) {
        EXPECT_TRUE(server.put_file(name, bytes));
        return sha256_file(server.root() + L"\\" + from_utf8(name)).value_or("");
    }
    std::string url(const std::string& name) const { return server.http_base() + "/" + name; }
    std::wstring path(const char* name) const { return dir + L"\\" + from_utf8(name); }

    NetError run(const std::string& name, const std::wstring& dest, std::uint64_t size, const std::string& sha,
                 int attempts, const std::atomic<bool>* cancel = nullptr) {
        progress.clear();
        return download(http, url(name), dest, size, sha, cancel,
                        [this](std::uint64_t n) { progress.push_back(n); }, attempts);
    }

    TestServer server;
    Http http;
    std::wstring dir;
    std::vector<std::uint64_t> progress;
};

void expect_ok(const NetError& r) {
    EXPECT_TRUE(r.ok) << r.message;
    EXPECT_FALSE(r.not_found || r.cancelled || r.hash_mismatch);
    EXPECT_EQ(r.http_status, 0u);
    EXPECT_EQ(r.message, "");
}

// A fault of this computer that download built itself (no other flag, no status): prefix + the
// text of one of codes.
void expect_local_failure(const NetError& r, const std::string& prefix, std::initializer_list<DWORD> codes) {
    EXPECT_TRUE(r.local_fault);
    EXPECT_FALSE(r.ok || r.not_found || r.cancelled || r.hash_mismatch);
    EXPECT_EQ(r.http_status, 0u);
    bool known = false;
    for (DWORD code : codes) known = known || r.message == prefix + system_error_text(code);
    EXPECT_TRUE(known) << r.message;
}

void expect_increasing(const std::vector<std::uint64_t>& p, std::uint64_t last) {
    ASSERT_FALSE(p.empty());
    for (std::size_t i = 1; i < p.size(); ++i) EXPECT_GT(p[i], p[i - 1]);
    for (std::size_t i = 1; i < p.size(); ++i) EXPECT_LE(p[i] - p[i - 1], BODY_RING_SIZE);
    EXPECT_EQ(p.back(), last);
}

}  // namespace

TEST_F(DownloadTest, WithoutSizeOrDigestAnyCompleteBodyIsMovedIntoPlace) {
    std::string data = pattern(150000);
    serve("a.bin", data);
    std::wstring dest = path("sub\\deeper\\a.bin");  // missing folders are made
    NetError r = run("a.bin", dest, 0, "", 2);
    expect_ok(r);
    EXPECT_TRUE(read_file(dest) == data);
    EXPECT_FALSE(file_exists(dest + L".part"));
    expect_increasing(progress, data.size());
    EXPECT_LE(progress.front(), BODY_RING_SIZE);
    auto j = server.journal();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0].path, "/a.bin");
    EXPECT_EQ(j[0].range, std::nullopt);
    EXPECT_EQ(j[0].status, 200);
}

TEST_F(DownloadTest, DestinationWithTheDigestNeedsNoRequestAndLeavesAStalePartAlone) {
    std::string data = pattern(5000);
    std::string sha = serve("b.bin", data);
    std::wstring dest = path("b.bin");
    ASSERT_TRUE(write_file(dest, data));
    ASSERT_TRUE(write_file(dest + L".part", "stale"));
    // The digest in upper case matches too.
    std::string upper = sha;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& digest : {sha, upper}) {
        NetError r = run("b.bin", dest, data.size() + 1, digest, 2);  // the size is not compared here
        expect_ok(r);
        EXPECT_TRUE(progress.empty());
    }
    EXPECT_EQ(read_file(dest + L".part"), "stale");
    EXPECT_TRUE(server.journal().empty());
}

TEST_F(DownloadTest, DestinationWithAnotherDigestIsReplaced) {
    std::string data = pattern(5000);
    std::string sha = serve("c.bin", data);
    std::wstring dest = path("c.bin");
    ASSERT_TRUE(write_file(dest, "an older version"));
    expect_ok(run("c.bin", dest, data.size(), sha, 2));
    EXPECT_TRUE(read_file(dest) == data);
    EXPECT_EQ(server.journal().size(), 1u);
}

TEST_F(DownloadTest, PartOfExactlyTheExpectedSizeIsVerifiedWithoutARequest) {
    std::string data = pattern(5000);
    std::string sha = serve("d.bin", data);
    std::wstring dest = path("d.bin");
    ASSERT_TRUE(write_file(dest + L".part", data));
    expect_ok(run("d.bin", dest, data.size(), sha, 2));
    EXPECT_TRUE(read_file(dest) == data);
    EXPECT_FALSE(file_exists(dest + L".part"));
    EXPECT_TRUE(progress.empty());
    EXPECT_TRUE(server.journal().empty());

    // The same size with other bytes: deleted, and the next attempt fetches from byte 0.
    std::wstring dest2 = path("d2.bin");
    ASSERT_TRUE(write_file(dest2 + L".part", pattern(5000, 9)));
    expect_ok(run("d.bin", dest2, data.size(), sha, 2));
    EXPECT_TRUE(read_file(dest2) == data);
    auto j = server.journal();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0].range, std::nullopt);

    // And on the last attempt that is final, without any request.
    server.clear_journal();
    std::wstring dest3 = path("d3.bin");
    ASSERT_TRUE(write_file(dest3 + L".part", pattern(5000, 9)));
    NetError r = run("d.bin", dest3, data.size(), sha, 1);
    EXPECT_TRUE(r.hash_mismatch);
    EXPECT_EQ(r.message, "hash mismatch for " + url("d.bin") + " (got 5000 bytes)");
    EXPECT_FALSE(file_exists(dest3 + L".part"));
    EXPECT_TRUE(server.journal().empty());
}

TEST_F(DownloadTest, PartLargerThanExpectedIsDeletedAndFetchedWithoutRange) {
    std::string data = pattern(5000);
    std::string sha = serve("e.bin", data);
    std::wstring dest = path("e.bin");
    ASSERT_TRUE(write_file(dest + L".part", pattern(5001)));
    expect_ok(run("e.bin", dest, data.size(), sha, 2));
    EXPECT_TRUE(read_file(dest) == data);
    auto j = server.journal();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0].range, std::nullopt);
    EXPECT_EQ(progress.front(), data.size());  // counted from 0
}

TEST_F(DownloadTest, PartOf1000BytesIsResumedWithARange) {
    std::string data = pattern(200000);
    std::string sha = serve("f.bin", data);
    std::wstring dest = path("f.bin");
    ASSERT_TRUE(write_file(dest + L".part", data.substr(0, 1000)));
    expect_ok(run("f.bin", dest, data.size(), sha, 2));
    EXPECT_TRUE(read_file(dest) == data);
    auto j = server.journal();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0].range, std::optional<std::string>("bytes=1000-"));
    EXPECT_EQ(j[0].status, 206);
    EXPECT_EQ(j[0].sent, data.size() - 1000);
    expect_increasing(progress, data.size());
    EXPECT_GT(progress.front(), 1000u);
    EXPECT_LE(progress.front(), 1000u + BODY_RING_SIZE);
}

TEST_F(DownloadTest, WholeFileAnswerToARangeRestartsFromZero) {
    std::string data = pattern(200000);
    std::string sha = serve("g.bin", data);
    std::wstring dest = path("g.bin");
    ASSERT_TRUE(write_file(dest + L".part", std::string(1000, 'x')));  // not even the right prefix
    server.set_faults(R"({"/g.bin":{"ignore_range":true}})");
    expect_ok(run("g.bin", dest, data.size(), sha, 2));
    EXPECT_TRUE(read_file(dest) == data);
    expect_increasing(progress, data.size());
    EXPECT_LE(progress.front(), BODY_RING_SIZE);
    auto j = server.journal();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0].range, std::optional<std::string>("bytes=1000-"));
    EXPECT_EQ(j[0].status, 200);
}

TEST_F(DownloadTest, AfterAWholeFileRestartAMismatchIsFinal) {
    std::string data = pattern(20000);
    std::string sha = serve("h.bin", data);
    std::wstring dest = path("h.bin");
    ASSERT_TRUE(write_file(dest + L".part", data.substr(0, 1000)));
    server.set_faults(R"({"/h.bin":{"ignore_range":true,"wrong_bytes":true}})");
    NetError r = run("h.bin", dest, data.size(), sha, 3);
    EXPECT_TRUE(r.hash_mismatch);
    EXPECT_FALSE(r.ok || r.not_found || r.cancelled);
    EXPECT_EQ(r.http_status, 0u);
    EXPECT_EQ(r.message, "hash mismatch for " + url("h.bin") + " (got 20000 bytes)");
    EXPECT_FALSE(file_exists(dest + L".part"));
    EXPECT_FALSE(file_exists(dest));
    EXPECT_EQ(server.journal().size(), 1u) << "no second attempt";
}

TEST_F(DownloadTest, ResumedMismatchRetriesFromZeroAtOnce) {
    std::string data = pattern(20000);
    std::string sha = serve("i.bin", data);
    std::wstring dest = path("i.bin");
    ASSERT_TRUE(write_file(dest + L".part", std::string(1000, 'x')));  // a wrong prefix
    expect_ok(run("i.bin", dest, data.size(), sha, 2));
    EXPECT_TRUE(read_file(dest) == data);
    auto j = server.journal();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0].range, std::optional<std::string>("bytes=1000-"));
    EXPECT_EQ(j[0].status, 206);
    EXPECT_EQ(j[1].range, std::nullopt);
    EXPECT_EQ(j[1].status, 200);
    EXPECT_LT(j[1].at - j[0].at, 0.5) << "no pause";
}

TEST_F(DownloadTest, Answer416DeletesThePartAndRetriesAtOnce) {
    std::string data = pattern(500);
    std::string sha = serve("k.bin", data);
    std::wstring dest = path("k.bin");
    ASSERT_TRUE(write_file(dest + L".part", pattern(600, 3)));
    expect_ok(run("k.bin", dest, 0, sha, 2));
    EXPECT_TRUE(read_file(dest) == data);
    auto j = server.journal();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0].range, std::optional<std::string>("bytes=600-"));
    EXPECT_EQ(j[0].status, 416);
    EXPECT_EQ(j[1].range, std::nullopt);
    EXPECT_EQ(j[1].status, 200);
    EXPECT_LT(j[1].at - j[0].at, 0.5) << "no pause";

    // On the last attempt the 416 result itself comes back; the part file is gone.
    server.clear_journal();
    std::wstring dest2 = path("k2.bin");
    ASSERT_TRUE(write_file(dest2 + L".part", pattern(600, 3)));
    NetError r = run("k.bin", dest2, 0, sha, 1);
    EXPECT_FALSE(r.ok || r.not_found || r.cancelled || r.hash_mismatch);
    EXPECT_EQ(r.http_status, 416u);
    EXPECT_EQ(r.message, "http 416 (" + url("k.bin") + ")");
    EXPECT_FALSE(file_exists(dest2 + L".part"));
    EXPECT_EQ(server.journal().size(), 1u);
}

TEST_F(DownloadTest, NotFoundDeletesThePartAndStops) {
    std::wstring dest = path("gone.bin");
    ASSERT_TRUE(write_file(dest + L".part", "0123456789"));
    NetError r = run("gone.bin", dest, 100, "", 3);
    EXPECT_TRUE(r.not_found);
    EXPECT_FALSE(r.ok || r.cancelled || r.hash_mismatch);
    EXPECT_EQ(r.http_status, 404u);
    EXPECT_EQ(r.message, "http 404 (" + url("gone.bin") + ")");
    EXPECT_FALSE(file_exists(dest + L".part"));
    auto j = server.journal();
    ASSERT_EQ(j.size(), 1u) << "no further attempt";
    EXPECT_EQ(j[0].range, std::optional<std::string>("bytes=10-"));
}

TEST_F(DownloadTest, TwoFailuresPauseOnceAndNameTheAttempts) {
    serve("m.bin", pattern(1000));
    std::wstring dest = path("m.bin");
    ASSERT_TRUE(write_file(dest + L".part", pattern(100)));
    server.set_faults(R"({"/m.bin":{"status":503}})");
    NetError r = run("m.bin", dest, 1000, "", 2);
    EXPECT_FALSE(r.ok || r.not_found || r.cancelled || r.hash_mismatch);
    EXPECT_EQ(r.http_status, 503u);
    EXPECT_EQ(r.message, "download failed after 2 attempts: http 503 (" + url("m.bin") + ")");
    EXPECT_EQ(read_file(dest + L".part"), pattern(100)) << "kept for the next run";
    auto j = server.journal();
    ASSERT_EQ(j.size(), 2u);
    for (const auto& e : j) EXPECT_EQ(e.range, std::optional<std::string>("bytes=100-"));
    double pause = j[1].at - j[0].at;
    EXPECT_GE(pause, 0.98);
    EXPECT_LE(pause, 2.0);
}

TEST_F(DownloadTest, FourAttemptsPauseOneTwoAndFourSeconds) {
    serve("n.bin", pattern(1000));
    server.set_faults(R"({"/n.bin":{"status":500}})");
    NetError r = run("n.bin", path("n.bin"), 1000, "", 4);
    EXPECT_EQ(r.message, "download failed after 4 attempts: http 500 (" + url("n.bin") + ")");
    auto j = server.journal();
    ASSERT_EQ(j.size(), 4u);
    const double expected[] = {1.0, 2.0, 4.0};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        double pause = j[i + 1].at - j[i].at;
        EXPECT_GE(pause, expected[i] - 0.02);
        EXPECT_LE(pause, expected[i] + 1.0);
    }
}

TEST_F(DownloadTest, ConnectionCutMidwayIsResumedWithoutFetchingTwice) {
    std::string data = pattern(300000);
    std::string sha = serve("o.bin", data);
    std::wstring dest = path("o.bin");
    server.set_faults(R"({"/o.bin":{"cut_after":120000,"times":1}})");
    expect_ok(run("o.bin", dest, data.size(), sha, 2));
    EXPECT_TRUE(read_file(dest) == data);
    auto j = server.journal();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0].range, std::nullopt);
    EXPECT_EQ(j[0].sent, 120000u);
    EXPECT_EQ(j[1].range, std::optional<std::string>("bytes=120000-"));
    EXPECT_EQ(j[1].status, 206);
    EXPECT_EQ(j[0].sent + j[1].sent, data.size()) << "no byte fetched twice";
    EXPECT_GE(j[1].at - j[0].at, 0.98) << "a network failure pauses";
}

TEST_F(DownloadTest, CutOnTheLastAttemptKeepsThePart) {
    std::string data = pattern(300000);
    std::string sha = serve("p.bin", data);
    std::wstring dest = path("p.bin");
    server.set_faults(R"({"/p.bin":{"cut_after":100000}})");
    NetError r = run("p.bin", dest, data.size(), sha, 1);
    EXPECT_FALSE(r.ok || r.hash_mismatch || r.cancelled || r.not_found);
    EXPECT_EQ(r.http_status, 200u);
    const std::string u = url("p.bin");
    EXPECT_TRUE(r.message == "download failed after 1 attempts: read: connection closed early (" + u + ")" ||
                r.message == "download failed after 1 attempts: read: connection reset (" + u + ")")
        << r.message;
    EXPECT_TRUE(read_file(dest + L".part") == data.substr(0, 100000));
}

TEST_F(DownloadTest, CancelKeepsThePartAndTheNextCallResumes) {
    std::string data = pattern(400000);
    std::string sha = serve("q.bin", data);
    std::wstring dest = path("q.bin");
    server.set_faults(R"({"/q.bin":{"rate":200000,"times":1}})");
    std::atomic<bool> cancel{false};
    std::uint64_t seen = 0;
    NetError r = download(http, url("q.bin"), dest, data.size(), sha, &cancel,
                          [&](std::uint64_t n) {
                              seen = n;
                              cancel = true;
                          },
                          2);
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.ok || r.not_found || r.hash_mismatch);
    EXPECT_EQ(r.message, "cancelled");
    auto kept = file_size(dest + L".part");
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(*kept, seen);
    EXPECT_GT(*kept, 0u);
    EXPECT_LT(*kept, data.size());
    EXPECT_FALSE(file_exists(dest));
    EXPECT_EQ(server.journal().size(), 1u) << "no retry after a cancel";

    expect_ok(run("q.bin", dest, data.size(), sha, 2));
    EXPECT_TRUE(read_file(dest) == data);
    auto j = server.journal();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[1].range, std::optional<std::string>("bytes=" + std::to_string(*kept) + "-"));
    EXPECT_GT(progress.front(), *kept);
}

TEST_F(DownloadTest, CancelBeforeTheFirstAttemptSendsNothing) {
    serve("r.bin", pattern(1000));
    std::wstring dest = path("r.bin");
    ASSERT_TRUE(write_file(dest + L".part", "abc"));
    std::atomic<bool> cancel{true};
    NetError r = run("r.bin", dest, 1000, "", 2, &cancel);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.message, "cancelled");
    EXPECT_EQ(r.http_status, 0u);
    EXPECT_EQ(read_file(dest + L".part"), "abc");
    EXPECT_TRUE(server.journal().empty());
}

TEST_F(DownloadTest, SizeMismatchWithoutDigest) {
    std::string data = pattern(4321);
    serve("s.bin", data);
    for (std::uint64_t expected : {std::uint64_t{4322}, std::uint64_t{99999}}) {
        SCOPED_TRACE(expected);
        std::wstring dest = path("s.bin");
        NetError r = run("s.bin", dest, expected, "", 3);
        EXPECT_TRUE(r.hash_mismatch);
        EXPECT_EQ(r.http_status, 0u);
        EXPECT_EQ(r.message, "hash mismatch for " + url("s.bin") + " (got 4321 bytes)");
        EXPECT_FALSE(file_exists(dest + L".part"));
        EXPECT_FALSE(file_exists(dest));
    }
    EXPECT_EQ(server.journal().size(), 2u) << "a fresh mismatch is final";
}

TEST_F(DownloadTest, WrongBytesAndHtmlPagesAreMismatches) {
    std::string data = pattern(3000);
    std::string sha = serve("t.bin", data);
    std::wstring dest = path("t.bin");
    ASSERT_TRUE(write_file(dest, "previous"));
    server.set_faults(R"({"/t.bin":{"wrong_bytes":true}})");
    NetError r = run("t.bin", dest, data.size(), sha, 2);
    EXPECT_TRUE(r.hash_mismatch);
    EXPECT_EQ(r.message, "hash mismatch for " + url("t.bin") + " (got 3000 bytes)");
    EXPECT_EQ(read_file(dest), "previous") << "the destination is never touched by a failed transfer";

    server.set_faults(R"({"/t.bin":{"html":true}})");
    r = run("t.bin", dest, data.size(), sha, 2);
    EXPECT_TRUE(r.hash_mismatch);
    EXPECT_EQ(r.message.rfind("hash mismatch for " + url("t.bin") + " (got ", 0), 0u) << r.message;
    EXPECT_EQ(read_file(dest), "previous");
    EXPECT_FALSE(file_exists(dest + L".part"));
}

TEST_F(DownloadTest, EndlessBodyIsCutAtTheExpectedSize) {
    std::string data = pattern(5000);
    std::string sha = serve("u.bin", data);
    std::wstring dest = path("u.bin");
    server.set_faults(R"({"/u.bin":{"endless":true}})");
    ULONGLONG start = ::GetTickCount64();
    NetError r = run("u.bin", dest, data.size(), sha, 2);
    EXPECT_LT(::GetTickCount64() - start, 10000u);
    EXPECT_TRUE(r.hash_mismatch);
    EXPECT_EQ(r.http_status, 0u);
    EXPECT_EQ(r.message.rfind("hash mismatch for " + url("u.bin") + " (got ", 0), 0u) << r.message;
    EXPECT_FALSE(file_exists(dest + L".part"));
    for (std::uint64_t p : progress) EXPECT_LE(p, data.size());
    auto j = server.wait_journal(1);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_LT(j[0].sent, 64u << 20) << "the client stopped reading";

    // The same with a (false) huge Content-Length.
    server.clear_journal();
    server.set_faults(R"({"/u.bin":{"endless":1000000000000}})");
    r = run("u.bin", dest, data.size(), sha, 1);
    EXPECT_TRUE(r.hash_mismatch);
    EXPECT_FALSE(file_exists(dest + L".part"));
    EXPECT_EQ(server.wait_journal(1).size(), 1u);
}

// A full disk is the computer's fault, not the server's: said with the system's words, not
// retried, and the bytes that fit stay for a resume. Runs only in the ctest entry
// download_full_disk_test, which starts this executable under a file-size limit of
// DF_TEST_FILE_LIMIT bytes.
TEST_F(DownloadTest, FullDiskIsALocalFailure) {
    const std::string limit = env("DF_TEST_FILE_LIMIT");
    if (limit.empty()) GTEST_SKIP() << "needs the file-size limit of download_full_disk_test";
    const std::uint64_t size = 4 * std::stoull(limit);
    serve("full.bin", pattern(4099));  // sent over and over, in writes that never end at the limit
    server.set_faults(R"({"/full.bin":{"endless":)" + std::to_string(size) + "}}");
    std::wstring dest = path("full.bin");
    NetError r = run("full.bin", dest, size, "", 4);
    // Wine (at a file-size limit and on a full volume alike) first stores what fits and reports
    // success, which counts as ERROR_DISK_FULL; Windows fails the write with ERROR_DISK_FULL,
    // "There is not enough space on the disk.". Only a write that ended exactly at the limit
    // would have the next one fail with Wine's ERROR_GEN_FAILURE for the file-size limit.
    expect_local_failure(r, "cannot write " + to_utf8(dest + L".part") + ": ", {ERROR_DISK_FULL, ERROR_GEN_FAILURE});
    EXPECT_EQ(file_size(dest + L".part"), std::optional<std::uint64_t>(std::stoull(limit)));
    EXPECT_EQ(server.wait_journal(1).size(), 1u) << "not retried";
}

TEST_F(DownloadTest, OversizedResumeRetriesFromZeroThenIsFinal) {
    // The server holds 8000 bytes where the manifest says 5000.
    std::string data = pattern(8000);
    serve("v.bin", data);
    std::wstring dest = path("v.bin");
    ASSERT_TRUE(write_file(dest + L".part", data.substr(0, 1000)));
    NetError r = run("v.bin", dest, 5000, "", 3);
    EXPECT_TRUE(r.hash_mismatch);
    EXPECT_EQ(r.message.rfind("hash mismatch for " + url("v.bin") + " (got ", 0), 0u) << r.message;
    EXPECT_FALSE(file_exists(dest + L".part"));
    for (std::uint64_t p : progress) EXPECT_LE(p, 5000u);
    auto j = server.journal();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0].range, std::optional<std::string>("bytes=1000-"));
    EXPECT_EQ(j[1].range, std::nullopt);
    EXPECT_LT(j[1].at - j[0].at, 0.5) << "no pause";
}

TEST_F(DownloadTest, LockedDestinationKeepsTheVerifiedPart) {
    std::string data = pattern(7000);
    std::string sha = serve("w.bin", data);
    std::wstring dest = path("w.bin");
    ASSERT_TRUE(write_file(dest, "in use"));
    {
        UniqueFile held(::CreateFileW(dest.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        NetError r = run("w.bin", dest, data.size(), sha, 2);
        expect_local_failure(r, "cannot rename " + to_utf8(dest + L".part") + ": ",
                             {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED});
        EXPECT_TRUE(read_file(dest + L".part") == data);
        EXPECT_EQ(server.journal().size(), 1u) << "a refused move is not retried";
    }
    // Once the destination is free, the next run moves the part without a request.
    server.clear_journal();
    expect_ok(run("w.bin", dest, data.size(), sha, 2));
    EXPECT_TRUE(read_file(dest) == data);
    EXPECT_TRUE(server.journal().empty());
}

TEST_F(DownloadTest, UnreadablePartIsAMismatchOfZeroBytes) {
    std::string data = pattern(3000);
    std::string sha = serve("x.bin", data);
    std::wstring dest = path("x.bin");
    ASSERT_TRUE(write_file(dest + L".part", data));
    UniqueFile held(::CreateFileW((dest + L".part").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    NetError r = run("x.bin", dest, data.size(), sha, 1);
    EXPECT_TRUE(r.hash_mismatch);
    EXPECT_EQ(r.message, "hash mismatch for " + url("x.bin") + " (got 0 bytes)");
    EXPECT_TRUE(server.journal().empty());
    EXPECT_FALSE(file_exists(dest));
}

TEST_F(DownloadTest, RefusalsBeforeAnyRequest) {
    serve("y.bin", pattern(100));
    NetError r = run("y.bin", path("y.bin"), 100, "", 0);
    EXPECT_FALSE(r.ok || r.not_found || r.cancelled || r.hash_mismatch || r.local_fault);
    EXPECT_EQ(r.message, "download failed: " + url("y.bin"));
    r = run("y.bin", path("y.bin"), 100, "", -3);
    EXPECT_EQ(r.message, "download failed: " + url("y.bin"));

    // A folder where the part file should be: it cannot be opened, and that is not retried.
    std::wstring dest = path("z.bin");
    ASSERT_TRUE(::CreateDirectoryW((dest + L".part").c_str(), nullptr));
    r = run("y.bin", dest, 100, "", 3);
    EXPECT_TRUE(r.local_fault);
    EXPECT_FALSE(r.ok || r.not_found || r.cancelled || r.hash_mismatch);
    EXPECT_EQ(r.http_status, 0u);
    EXPECT_EQ(r.message, "cannot write " + to_utf8(dest + L".part"));
    EXPECT_TRUE(server.journal().empty());
}

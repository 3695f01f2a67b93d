// The silent flow's progress lines against a server that sends no faster than a known rate:
// their pace counted from the log's own time stamps, and their figures.
#include "app/log.h"
#include "tests/support/publish_release.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

using namespace df::test;
using df::setup::from_utf8;

namespace {

// Milliseconds since 1601 of a log line's "YYYY-MM-DD hh:mm:ss.mmm " stamp.
std::int64_t stamp_ms(const std::string& line) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(std::stoi(line.substr(0, 4)));
    t.wMonth = static_cast<WORD>(std::stoi(line.substr(5, 2)));
    t.wDay = static_cast<WORD>(std::stoi(line.substr(8, 2)));
    t.wHour = static_cast<WORD>(std::stoi(line.substr(11, 2)));
    t.wMinute = static_cast<WORD>(std::stoi(line.substr(14, 2)));
    t.wSecond = static_cast<WORD>(std::stoi(line.substr(17, 2)));
    t.wMilliseconds = static_cast<WORD>(std::stoi(line.substr(20, 3)));
    FILETIME f{};
    ::SystemTimeToFileTime(&t, &f);
    return static_cast<std::int64_t>((std::uint64_t{f.dwHighDateTime} << 32 | f.dwLowDateTime) / 10000);
}

}  // namespace

TEST(ProgressLog, PaceAndFigures) {
    TestServer server;
    ASSERT_TRUE(server.available());
    ReleaseSpec release;
    release.files = {{"duskfern-overlay.exe", "MZ overlay stand-in", {}, std::nullopt},
                     {"bin/core.bin", std::string(3u << 20, 'c'), {}, std::string("core.bin")}};
    server.clear_faults();
    ASSERT_TRUE(publish_release(server.root(), server.http_base(), release));
    constexpr int RATE_KB = 256;  // 12 s for the 3 MB
    server.set_faults(R"({"/v1.4.0/files/core.bin": {"rate": )" + std::to_string(RATE_KB * 1024) + "}}");

    std::wstring dir = scratch_folder("progress_log") + L"\\app";
    std::wstring log = dir + L".log";
    // One whole-file transfer at a time, so that the server's rate is the download's.
    std::wstring cmd = L"\"" + setup_exe() + L"\" --silent --connections 1 --dir \"" + dir + L"\" --log \"" + log + L"\"";
    std::wstring base = from_utf8(server.http_base());
    ProcessResult r = run_process(cmd, 180000, L"DUSKFERN_UPDATE_MIRROR=" + base + L"\nDUSKFERN_UPDATE_BASE=" + base + L"/gh");
    ASSERT_TRUE(r.started);
    const std::string text = read_file(log);
    ASSERT_EQ(r.exit_code, 0u) << text;

    // The files phase runs from the accepted manifest to the closing line.
    std::int64_t begin = 0, end = 0;
    std::vector<std::int64_t> lines;
    const std::regex progress(R"(progress (\d) / 2 files, (\d+\.\d) / 3\.0 MB, (\d+) KB/s, about (\d+) s left)");
    std::size_t start = 0;
    for (std::size_t stop; (stop = text.find("\r\n", start)) != std::string::npos; start = stop + 2) {
        const std::string line = text.substr(start, stop - start);
        const std::string message = line.substr(24);
        if (message.starts_with("manifest from mirror: ")) begin = stamp_ms(line);
        if (message.starts_with("installed ")) end = stamp_ms(line);
        if (!message.starts_with("progress ")) continue;
        SCOPED_TRACE(message);
        lines.push_back(stamp_ms(line));
        std::smatch m;
        ASSERT_TRUE(std::regex_match(message, m, progress));
        const double left_mb = 3.0 - std::stod(m[2]);
        const int speed_kb = std::stoi(m[3]);
        EXPECT_LE(speed_kb, RATE_KB + RATE_KB / 10) << "faster than the server sends";
        EXPECT_NEAR(std::stoi(m[4]), left_mb * 1024 / speed_kb, 2.0) << "time left of other figures";
    }
    ASSERT_GT(begin, 0);
    ASSERT_GT(end, begin);
    // One line per whole 5 s of the phase (the first 5 s after it begins), never closer.
    const std::int64_t periods = (end - begin) / 5000;
    EXPECT_GE(periods, 2) << text;
    EXPECT_LE(static_cast<std::int64_t>(lines.size()), periods) << text;
    EXPECT_GE(static_cast<std::int64_t>(lines.size()), periods - 1) << text;
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_GE(lines[i] - lines[i - 1], 4900) << text;
}

#include "app/handle.h"
#include "app/log.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

using namespace df::setup;
using df::test::read_file;
using df::test::scratch_folder;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace

TEST(Log, LineFormatAndAppend) {
    std::wstring path = scratch_folder("log") + L"\\setup.log";
    set_log_path(path);
    log_line("first");
    log_line("second");
    auto lines = lines_of(read_file(path));
    ASSERT_EQ(lines.size(), 2u);
    std::regex shape(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} first)");
    EXPECT_TRUE(std::regex_match(lines[0], shape)) << lines[0];
    EXPECT_EQ(lines[1].substr(24), "second");
}

TEST(Log, EmptyPathWritesNothing) {
    std::wstring dir = scratch_folder("log-empty");
    set_log_path(L"");
    log_line("dropped");  // must not fail or create anything
    set_log_path(dir + L"\\x.log");
    EXPECT_FALSE(df::test::file_exists(dir + L"\\x.log"));
}

TEST(Log, MissingFolderDropsLines) {
    std::wstring path = scratch_folder("log-missing") + L"\\no\\such\\folder\\setup.log";
    set_log_path(path);
    log_line("lost");
    EXPECT_FALSE(df::test::file_exists(path));
}

TEST(Log, NonAsciiIsUtf8) {
    std::wstring path = scratch_folder("log-utf8") + L"\\setup.log";
    set_log_path(path);
    log_line("into " + to_utf8(L"D:\\\u6e38\u620f"));
    std::string text = read_file(path);
    EXPECT_NE(text.find("into D:\\\xe6\xb8\xb8\xe6\x88\x8f\r\n"), std::string::npos);
}

TEST(Log, WrittenWhileAnotherHandleHoldsTheFile) {
    std::wstring path = scratch_folder("log-shared") + L"\\setup.log";
    set_log_path(path);
    log_line("before");
    // A viewer that keeps the file open for reading (sharing everything, as editors and tail do).
    UniqueFile viewer(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(viewer);
    log_line("while held");
    viewer.reset();
    auto lines = lines_of(read_file(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(24), "while held");
}

TEST(Log, ConcurrentWritersGiveWholeLines) {
    std::wstring path = scratch_folder("log-threads") + L"\\setup.log";
    set_log_path(path);
    auto writer = [](char tag) {
        for (int i = 0; i < 500; ++i) log_line(std::string(40, tag) + " " + std::to_string(i));
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    auto lines = lines_of(read_file(path));
    ASSERT_EQ(lines.size(), 1000u);
    int count_a = 0, count_b = 0;
    std::regex shape(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} (a{40}|b{40}) \d+)");
    for (const auto& l : lines) {
        ASSERT_TRUE(std::regex_match(l, shape)) << l;
        (l[24] == 'a' ? count_a : count_b)++;
    }
    EXPECT_EQ(count_a, 500);
    EXPECT_EQ(count_b, 500);
}

TEST(Utf, RoundTripAndEmpty) {
    EXPECT_EQ(to_utf8(L""), "");
    EXPECT_EQ(from_utf8(""), L"");
    std::wstring wide = L"a\u00e9\u4e2d\U0001F600";
    EXPECT_EQ(to_utf8(wide), "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80");
    EXPECT_EQ(from_utf8(to_utf8(wide)), wide);
}

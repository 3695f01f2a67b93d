// The real duskfern-setup.exe in silent mode: a refused folder ends the run with exit code 2
// after the header and the "folder problem: " line, before any request reaches the network
// (both release sources point at the loopback test server, whose journal must stay empty).
#include "app/log.h"
#include "folder/known_folder.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace df::setup;
using namespace df::test;

namespace {

struct SetupRun {
    unsigned long exit_code = 0;
    std::vector<std::string> lines;  // log lines without their time stamps
};

class SilentFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.available());
        server.clear_journal();
        dir = scratch_folder("silent-folder");
    }

    SetupRun run(const std::wstring& args) {
        std::wstring log = dir + L"\\setup-" + std::to_wstring(runs++) + L".log";
        std::wstring cmd = L"\"" + setup_exe() + L"\" --silent --log \"" + log + L"\" " + args;
        std::wstring base = from_utf8(server.http_base());
        std::wstring env = L"TEMP=" + dir + L"\nTMP=" + dir + L"\nDUSKFERN_UPDATE_MIRROR=" + base +
                           L"\nDUSKFERN_UPDATE_BASE=" + base;
        ProcessResult r = run_process(cmd, 60000, env);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timed_out);
        SetupRun out;
        out.exit_code = r.exit_code;
        std::string text = read_file(log);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\r\n", start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            // "YYYY-MM-DD hh:mm:ss.mmm " in front of every line
            out.lines.push_back(line.size() >= 24 ? line.substr(24) : line);
            start = end + 2;
        }
        return out;
    }

    TestServer server;
    std::wstring dir;
    int runs = 0;
};

}  // namespace

TEST_F(SilentFolder, RefusedFolderExitsTwoBeforeAnyRequest) {
    std::wstring windows = known_folder_path(FOLDERID_Windows);
    ASSERT_FALSE(windows.empty());
    std::wstring file = dir + L"\\a-file";
    ASSERT_TRUE(write_file(file, "x"));
    struct Case {
        std::wstring dir_arg;
        std::string rejected;  // the "folder rejected: " line before, or empty
        std::string message;
    } cases[] = {
        {L"Games\\Duskfern", "folder rejected: relative Games\\Duskfern",
         "Use a full path such as D:\\Games\\Duskfern."},
        {L"D:", "folder rejected: drive_root D:\\", "Pick a folder, not a whole drive."},
        {L"\"\"", "folder rejected: empty ", "Choose a folder."},
        {L"D:\\con\\x", "folder rejected: bad_chars D:\\con\\x",
         "The folder name has characters Windows does not allow."},
        {L"\"" + windows + L"\\Duskfern\"", "folder rejected: system_folder " + to_utf8(windows) + "\\Duskfern",
         "Program Files and Windows folders are not writable for updates; choose a folder of your own."},
        {L"\"" + file + L"\"", "", "This folder cannot be written to; choose another."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        SetupRun r = run(L"--lang en --dir " + c.dir_arg);
        EXPECT_EQ(r.exit_code, 2u);
        std::vector<std::string> tail(r.lines.begin() + (r.lines.empty() ? 0 : 1), r.lines.end());
        ASSERT_FALSE(r.lines.empty());
        EXPECT_EQ(r.lines[0].rfind("---- duskfern-setup 0.7.1 pid=", 0), 0u) << r.lines[0];
        std::vector<std::string> want;
        if (!c.rejected.empty()) want.push_back(c.rejected);
        want.push_back("folder problem: " + c.message);
        EXPECT_EQ(tail, want);
    }
    EXPECT_TRUE(server.journal().empty());
    EXPECT_EQ(read_file(file), "x");
}

TEST_F(SilentFolder, ChineseMessageInUtf8) {
    SetupRun r = run(L"--lang zh-CN --dir D:\\");
    EXPECT_EQ(r.exit_code, 2u);
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines.back(), "folder problem: 请选择一个文件夹，而不是整个磁盘。");
    EXPECT_TRUE(server.journal().empty());
}

TEST_F(SilentFolder, BadSourceComesBeforeTheFolder) {
    SetupRun r = run(L"--source Mirror --dir Games");
    EXPECT_EQ(r.exit_code, 2u);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[1], "bad --source");
    EXPECT_TRUE(server.journal().empty());
}

TEST_F(SilentFolder, DefaultFolderComesFromTheProfile) {
    // Without --dir the install goes to the profile's Duskfern folder, which the check accepts;
    // the run goes on to the (loopback) sources and is judged here by its log only.
    std::wstring profile = known_folder_path(FOLDERID_Profile);
    ASSERT_FALSE(profile.empty());
    SetupRun r = run(L"--lang en");
    EXPECT_NE(r.exit_code, 2u);
    std::string line = "---- install (silent) into " + to_utf8(profile) + "\\Duskfern";
    EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), line), r.lines.end()) << line;
}

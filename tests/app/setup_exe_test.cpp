// The real duskfern-setup.exe, started as a user would start it, judged by its log and exit code.
#include "app/log.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <regex>

using namespace df::test;

namespace {

struct SetupRun {
    unsigned long exit_code;
    std::string log;
};

// Runs the setup with arguments, its temp folder pointed at tmp (so the default log lands there).
SetupRun run_setup(const std::wstring& args, const std::wstring& log_file, const std::wstring& tmp) {
    std::wstring cmd = L"\"" + setup_exe() + L"\" " + args;
    ProcessResult r = run_process(cmd, 60000, L"TEMP=" + tmp + L"\nTMP=" + tmp);
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timed_out);
    return {r.exit_code, read_file(log_file)};
}

std::string header_of(const std::string& log) {
    std::size_t p = log.find("---- duskfern-setup ");
    if (p == std::string::npos) return {};
    return log.substr(p, log.find("\r\n", p) - p);
}

}  // namespace

TEST(SetupExe, BadSourceExitsTwoAfterHeader) {
    std::wstring dir = scratch_folder("exe-source");
    std::wstring log = dir + L"\\setup.log";
    SetupRun r = run_setup(L"--silent --source GitHub --log \"" + log + L"\" --lang en", log, dir);
    EXPECT_EQ(r.exit_code, 2u);
    std::regex header(R"(---- duskfern-setup 0\.7\.1 pid=\d+ silent ui=en)");
    EXPECT_TRUE(std::regex_match(header_of(r.log), header)) << r.log;
    EXPECT_NE(r.log.find(" bad --source\r\n"), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("---- install"), std::string::npos);
}

TEST(SetupExe, BadConnectionsExitsTwoBeforeTheInstall) {
    std::wstring dir = scratch_folder("exe-connections");
    std::wstring log = dir + L"\\setup.log";
    SetupRun r = run_setup(L"--silent --connections 17 --log \"" + log + L"\"", log, dir);  // every value: command_line_test
    EXPECT_EQ(r.exit_code, 2u);
    EXPECT_NE(r.log.find(" bad --connections\r\n"), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("---- install"), std::string::npos);
}

TEST(SetupExe, LanguageChoiceInHeader) {
    struct Case {
        const wchar_t* lang;
        const char* ui;
    } cases[] = {{L"zh-TW", "ui=zh"}, {L"zh", "ui=zh"}, {L"ZH", "ui=en"}, {L"en", "ui=en"}, {L"z", "ui=en"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ui);
        std::wstring dir = scratch_folder("exe-lang");
        std::wstring log = dir + L"\\setup.log";
        SetupRun r = run_setup(L"--silent --source none --log \"" + log + L"\" --lang " + c.lang, log, dir);
        EXPECT_EQ(r.exit_code, 2u);
        std::string h = header_of(r.log);
        EXPECT_EQ(h.substr(h.size() - 5), c.ui) << h;
    }
}

TEST(SetupExe, LogOptionReplacesTheTempLog) {
    std::wstring dir = scratch_folder("exe-log");
    std::wstring log = dir + L"\\chosen.log";
    SetupRun r = run_setup(L"--silent --source x --log \"" + log + L"\"", log, dir);
    EXPECT_EQ(r.exit_code, 2u);
    EXPECT_FALSE(header_of(r.log).empty());
    EXPECT_FALSE(file_exists(dir + L"\\duskfern-setup.log"));

    // Without --log the lines go to the temp folder's duskfern-setup.log, run after run.
    std::wstring temp_log = dir + L"\\duskfern-setup.log";
    run_setup(L"--silent --source x", temp_log, dir);
    SetupRun second = run_setup(L"--silent --source x", temp_log, dir);
    std::size_t first_header = second.log.find("---- duskfern-setup ");
    ASSERT_NE(first_header, std::string::npos);
    EXPECT_NE(second.log.find("---- duskfern-setup ", first_header + 1), std::string::npos) << second.log;
}

TEST(SetupExe, LogInMissingFolderDoesNotStopTheRun) {
    std::wstring dir = scratch_folder("exe-nolog");
    std::wstring log = dir + L"\\missing\\setup.log";
    SetupRun r = run_setup(L"--silent --source x --log \"" + log + L"\"", log, dir);
    EXPECT_EQ(r.exit_code, 2u);
    EXPECT_TRUE(r.log.empty());
}

// A delay-loaded system DLL that cannot be loaded ends the run with the job's plain failure, not
// with the delay-load helper's exception. A copy of the setup with the DLL disabled stands in for a
// Windows without it (Wine reads a program's DLL overrides from the registry, by file name); the
// sources are closed ports, and nothing is fetched before the failure.
TEST(SetupExe, MissingSystemDllIsAPlainFailure) {
    struct Case {
        const wchar_t* disabled;
        const char* failure;
    } cases[] = {{L"winhttp", "FAILED WinHTTP is not available\r\n"},
                 {L"bcrypt", "FAILED CNG (bcrypt.dll) is not available\r\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(df::setup::to_utf8(c.disabled));
        std::wstring dir = scratch_folder("exe-nodll");
        std::wstring name = L"duskfern-setup-no-" + std::wstring(c.disabled) + L".exe";
        std::wstring key = L"Software\\Wine\\AppDefaults\\" + name + L"\\DllOverrides";
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), c.disabled, REG_SZ, L"", sizeof(wchar_t)),
                  ERROR_SUCCESS);
        ASSERT_TRUE(::CopyFileW(setup_exe().c_str(), (dir + L"\\" + name).c_str(), FALSE));
        std::wstring log = dir + L"\\setup.log";
        std::wstring cmd = L"\"" + dir + L"\\" + name + L"\" --silent --dir \"" + dir + L"\\app\" --log \"" + log + L"\"";
        ProcessResult r = run_process(cmd, 60000, L"DUSKFERN_UPDATE_MIRROR=http://127.0.0.1:9\n"
                                                  L"DUSKFERN_UPDATE_BASE=http://127.0.0.1:9/gh");
        EXPECT_EQ(r.exit_code, 1u) << read_file(log);
        EXPECT_NE(read_file(log).find(c.failure), std::string::npos) << read_file(log);
    }
}

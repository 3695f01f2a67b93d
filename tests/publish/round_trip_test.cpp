// A build folder published by the native release tool (round_trip.sh) and served by the loopback
// server installs with duskfern-setup.exe from either source, equal to the build folder byte for
// byte; the Windows build of the tool writes the same trees.
#include "app/log.h"
#include "tests/support/publish_release.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace df::test;
using df::setup::from_utf8;
using df::setup::to_utf8;

namespace {

const std::string TAG = env("DF_ROUND_TRIP_TAG");
const std::wstring BUILD = windows_path(env("DF_ROUND_TRIP_BUILD"));
const std::wstring NATIVE_OUT = windows_path(env("DF_ROUND_TRIP_OUT"));

}  // namespace

TEST(RoundTrip, InstallsFromBothSourcesAsTheBuildFolderIs) {
    TestServer server;
    ASSERT_TRUE(server.available());
    ASSERT_FALSE(TAG.empty()) << "run through tests/publish/round_trip.sh";
    ASSERT_TRUE(write_github_document(server.root(), server.http_base(), TAG));
    const std::map<std::string, std::string> expected = files_below(BUILD);
    ASSERT_EQ(expected.size(), 5u);
    for (const char* source : {"mirror", "github"}) {
        SCOPED_TRACE(source);
        std::wstring dir = scratch_folder(std::string("round-trip-") + source) + L"\\app";
        std::wstring log = dir + L".log";
        std::wstring cmd = L"\"" + build_file("app/duskfern-setup.exe") + L"\" --silent --source " +
                           from_utf8(source) + L" --dir \"" + dir + L"\" --log \"" + log + L"\"";
        std::wstring base = from_utf8(server.http_base());
        ProcessResult r =
            run_process(cmd, 180000, L"DUSKFERN_UPDATE_MIRROR=" + base + L"\nDUSKFERN_UPDATE_BASE=" + base + L"/gh");
        std::string text = read_file(log);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.exit_code, 0u) << text;
        EXPECT_NE(text.find(" latest " + TAG + " from " + source + "\r\n"), std::string::npos) << text;
        EXPECT_NE(text.find(" manifest from " + std::string(source) + ": 5 files\r\n"), std::string::npos) << text;
        std::string counts = std::string(source) == "mirror" ? "from_mirror=5 from_github=0" : "from_mirror=0 from_github=5";
        EXPECT_NE(text.find(" installed 2.1.0 into " + to_utf8(dir) + " files=5 " + counts + "\r\n"), std::string::npos)
            << text;
        EXPECT_EQ(files_below(dir), expected);
    }
}

TEST(RoundTrip, WindowsToolWritesTheSameTrees) {
    std::wstring out = scratch_folder("round-trip-windows-tool");
    std::wstring cmd = L"\"" + build_file("publish/duskfern-publish.exe") + L"\" release --from \"" + BUILD +
                       L"\" --tag " + from_utf8(TAG) + L" --out \"" + out + L"\"";
    ProcessResult r = run_process(cmd, 60000);
    ASSERT_TRUE(r.started);
    ASSERT_EQ(r.exit_code, 0u);
    std::wstring manifest = L"\\mirror\\" + from_utf8(TAG) + L"\\manifest.json";
    EXPECT_EQ(read_file(out + manifest), read_file(NATIVE_OUT + manifest));
    EXPECT_FALSE(read_file(out + manifest).empty());
    // Every file alike except latest.json, whose publication time is that of each run.
    std::map<std::string, std::string> windows = files_below(out), native = files_below(NATIVE_OUT);
    EXPECT_EQ(windows.erase("mirror/latest.json"), 1u);
    EXPECT_EQ(native.erase("mirror/latest.json"), 1u);
    EXPECT_EQ(windows, native);
}

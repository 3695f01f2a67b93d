// A build folder published by the native release tool (round_trip.sh) and served by the loopback
// server installs with duskfern-setup.exe from either source, equal to the build folder byte for
// byte; the Windows build of the tool writes the same trees, and both builds' signatures verify
// with the setup's verifier.
#include "app/handle.h"
#include "app/log.h"
#include "net/ecdsa.h"
#include "publish/key_file.h"
#include "release/signature.h"
#include "tests/support/publish_release.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <aclapi.h>

#include <gtest/gtest.h>

using namespace df::test;
using df::setup::from_utf8;
using df::setup::to_utf8;

namespace {

const std::string TAG = env("DF_ROUND_TRIP_TAG");
const std::wstring BUILD = windows_path(env("DF_ROUND_TRIP_BUILD"));
const std::wstring NATIVE_OUT = windows_path(env("DF_ROUND_TRIP_OUT"));
const std::wstring TEST_KEY = windows_path(env("DF_SOURCE_DIR") + "/tests/support/test-only-release-key.pem");

// The names whose bytes differ between two trees, or that only one holds.
std::string differing(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
    std::string out;
    for (const auto& [name, bytes] : a) {
        if (!b.count(name) || b.at(name) != bytes) out += name + " ";
    }
    for (const auto& [name, bytes] : b) {
        if (!a.count(name)) out += name + " ";
    }
    return out;
}

ProcessResult run_tool(const std::wstring& args) {
    return run_process(L"\"" + build_file("publish/duskfern-publish.exe") + L"\" " + args, 60000);
}

// Whether the signature file beside the manifest below root (the mirror tree) verifies under xy.
bool signed_by(const std::wstring& root, const std::string& xy) {
    std::wstring manifest = root + L"\\mirror\\" + from_utf8(TAG) + L"\\manifest.json";
    auto signature = df::setup::parse_signature_text(read_file(manifest + L".sig"));
    return signature && df::setup::ecdsa_p256_verify(xy, read_file(manifest), *signature);
}

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
        EXPECT_NE(text.find(" installed 2.1.0 into " + to_utf8(dir) + " files=5 " + counts + " bytes_received="), std::string::npos)
            << text;
        EXPECT_EQ(differing(files_below(dir), expected), "");
    }
}

TEST(RoundTrip, WindowsToolWritesTheSameTrees) {
    std::wstring out = scratch_folder("round-trip-windows-tool");
    ProcessResult r = run_tool(L"release --from \"" + BUILD + L"\" --tag " + from_utf8(TAG) + L" --out \"" + out +
                               L"\" --key \"" + TEST_KEY + L"\"");
    ASSERT_TRUE(r.started);
    ASSERT_EQ(r.exit_code, 0u);
    auto key = df::publish::read_key_file(TEST_KEY);
    ASSERT_TRUE(key) << key.error();
    EXPECT_TRUE(signed_by(NATIVE_OUT, key->xy)) << "OpenSSL's signature, CNG's verifier";
    EXPECT_TRUE(signed_by(out, key->xy)) << "CNG's signature";
    std::wstring manifest = L"\\mirror\\" + from_utf8(TAG) + L"\\manifest.json";
    EXPECT_EQ(read_file(out + manifest), read_file(NATIVE_OUT + manifest));
    EXPECT_FALSE(read_file(out + manifest).empty());
    // Every file alike (the packed copies included) except latest.json, whose publication time is
    // that of each run, and the signatures (two in each tree), which ECDSA draws at random.
    std::map<std::string, std::string> windows = files_below(out), native = files_below(NATIVE_OUT);
    for (auto* files : {&windows, &native}) {
        EXPECT_EQ(files->erase("mirror/latest.json"), 1u);
        EXPECT_EQ(std::erase_if(*files, [](const auto& f) { return f.first.ends_with(".sig"); }), 4u);
    }
    EXPECT_TRUE(native.count("mirror/" + TAG + "/files/f__duskfern-overlay.exe.gz")) << "the exe has a packed copy";
    EXPECT_EQ(differing(windows, native), "");

    // A second run with the same files changes nothing, the publication time included.
    const std::map<std::string, std::string> first = files_below(out);
    ProcessResult again = run_tool(L"release --from \"" + BUILD + L"\" --tag " + from_utf8(TAG) + L" --out \"" + out +
                                   L"\" --key \"" + TEST_KEY + L"\"");
    ASSERT_EQ(again.exit_code, 0u);
    EXPECT_EQ(differing(files_below(out), first), "");
}

TEST(RoundTrip, WindowsNewKeyIsTheCurrentUsersOnly) {
    std::wstring file = scratch_folder("round-trip-new-key") + L"\\release.pem";
    ProcessResult made = run_tool(L"new-key \"" + file + L"\"");
    ASSERT_EQ(made.exit_code, 0u);
    std::string text = read_file(file);
    ASSERT_TRUE(df::publish::read_key_file(file)) << df::publish::read_key_file(file).error();
    EXPECT_EQ(run_tool(L"new-key \"" + file + L"\"").exit_code, 1u);
    EXPECT_EQ(read_file(file), text) << "never replaced";

    // One entry, for this user, and nothing inherited from the folder. Wine keeps no security
    // descriptor of a file: it reports one made from the Unix mode (SYSTEM and the owner, and
    // Everyone when others may read), so there the check is that no one else has an entry.
    const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                      nullptr, &sd),
              static_cast<DWORD>(ERROR_SUCCESS));
    df::setup::UniqueHandle<df::setup::LocalMemTraits<PSECURITY_DESCRIPTOR>> owned(sd);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(sd, &control, &revision));
    EXPECT_TRUE(wine || (control & SE_DACL_PROTECTED));
    ASSERT_NE(dacl, nullptr);
    df::setup::UniqueKernel token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
    unsigned char user[256];
    DWORD size = 0;
    ASSERT_TRUE(::GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size));
    unsigned char system_sid[SECURITY_MAX_SID_SIZE];
    DWORD system_size = sizeof system_sid;
    ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system_sid, &system_size));
    bool user_listed = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        bool is_user = ::EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &ace->SidStart);
        user_listed = user_listed || is_user;
        EXPECT_TRUE(is_user || (wine && ::EqualSid(system_sid, &ace->SidStart))) << "entry " << i;
    }
    EXPECT_TRUE(user_listed);
    EXPECT_TRUE(wine || dacl->AceCount == 1) << dacl->AceCount;
}

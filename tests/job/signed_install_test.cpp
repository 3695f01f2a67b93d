// Signed manifests: a setup built with the test key (duskfern-setup-testkey.exe) installs only a
// release whose manifest that key signed, candidate by candidate; the default setup asks for no
// signature at all. Silent installs against the loopback release server.
#include "app/log.h"
#include "net/sha256.h"
#include "publish/key_file.h"
#include "publish/release_writer.h"
#include "release/signature.h"
#include "tests/support/publish_release.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

using namespace df::test;
using df::setup::from_utf8;
using df::setup::to_utf8;

namespace {

constexpr const char* MIRROR_MANIFEST = "v1.4.0/manifest.json";
constexpr const char* GITHUB_MANIFEST = "gh/download/v1.4.0/manifest.json";

// The published release's files as the server holds them.
struct Served {
    TestServer& server;
    std::string get(const std::string& rel) const { return read_file(server.root() + L"\\" + rel_path(rel)); }
    void put(const std::string& rel, const std::string& bytes) const { ASSERT_TRUE(server.put_file(rel, bytes)); }
    void remove(const std::string& rel) const { ASSERT_TRUE(remove_tree(server.root() + L"\\" + rel_path(rel))); }
    static std::wstring rel_path(const std::string& rel) {
        std::wstring w = from_utf8(rel);
        for (auto& c : w) c = c == L'/' ? L'\\' : c;
        return w;
    }
};

std::string sig(const char* manifest) { return std::string(manifest) + ".sig"; }

// The signature named after the digest of the manifest the server holds at manifest.
std::string digest_sig(const Served& s, const char* manifest) {
    std::string path = manifest;
    return path.substr(0, path.rfind('/') + 1) + df::setup::digest_signature_name(df::setup::sha256_hex(s.get(manifest)));
}

// Writes text as both signature files of manifest.
void put_sigs(const Served& s, const char* manifest, const std::string& text) {
    s.put(sig(manifest), text);
    s.put(digest_sig(s, manifest), text);
}

}  // namespace

TEST(SignedInstall, Table) {
    TestServer server;
    ASSERT_TRUE(server.available());
    const std::wstring test_key = windows_path(env("DF_SOURCE_DIR") + "/tests/support/test-only-release-key.pem");
    const std::string core(200000, 'c'), evil(200000, 'e');
    const std::string keyed = "tests/job/duskfern-setup-testkey.exe", plain = "app/duskfern-setup.exe";
    const std::string not_verified = "manifest signature does not verify";
    auto other_key = df::setup::ecdsa_p256_generate();
    ASSERT_TRUE(other_key.has_value());
    auto test_key_pair = df::publish::read_key_file(test_key);
    ASSERT_TRUE(test_key_pair);

    struct Row {
        const char* name;
        std::string setup;
        std::wstring args;
        std::function<void(const Served&)> edit;  // of the signed release, before the run
        unsigned long code;
        std::vector<std::string> lines;  // log lines that must be there
        bool packed = false;              // the release has packed copies
    } rows[] = {
        {"signed, from the mirror", keyed, L"", [](const Served&) {}, 0, {"manifest from mirror: 3 files"}},
        {"signed, from GitHub, line ends CR LF", keyed, L"--source github",
         [](const Served& s) {
             std::string t = s.get(sig(GITHUB_MANIFEST));
             put_sigs(s, GITHUB_MANIFEST, t.substr(0, 128) + "\r\n");
         },
         0, {"manifest from github: 3 files"}},
        // Between the manifest and manifest.json.sig going live, the older name signs the older
        // manifest; the one named after the digest is live already.
        {"read between the two renames", keyed, L"",
         [&](const Served& s) {
             for (const char* m : {MIRROR_MANIFEST, GITHUB_MANIFEST}) {
                 auto text = df::publish::signature_file_text(*test_key_pair, "older manifest");
                 s.put(sig(m), text ? *text : "");
             }
         },
         0, {"manifest from mirror: 3 files"}},
        {"an older release: manifest.json.sig alone", keyed, L"",
         [](const Served& s) {
             for (const char* m : {MIRROR_MANIFEST, GITHUB_MANIFEST}) s.remove(digest_sig(s, m));
         },
         0, {"manifest from mirror: 3 files"}},
        {"signed, packed copies listed", keyed, L"", [](const Served&) {}, 0, {"manifest from mirror: 3 files"}, true},
        {"manifest changed after signing", keyed, L"",
         [](const Served& s) {
             for (const char* m : {MIRROR_MANIFEST, GITHUB_MANIFEST}) s.put(m, s.get(m) + " ");
         },
         1, {"manifest from mirror failed: " + not_verified, "manifest from github failed: " + not_verified,
             "FAILED could not fetch manifest.json"}},
        {"no signature", keyed, L"",
         [](const Served& s) {
             for (const char* m : {MIRROR_MANIFEST, GITHUB_MANIFEST}) {
                 s.remove(digest_sig(s, m));
                 s.remove(sig(m));
             }
         },
         1, {"manifest from mirror failed: manifest signature missing",
             "manifest from github failed: manifest signature missing", "FAILED could not fetch manifest.json"}},
        {"signed by another key", keyed, L"",
         [&](const Served& s) {
             for (const char* m : {MIRROR_MANIFEST, GITHUB_MANIFEST}) {
                 auto text = df::publish::signature_file_text(*other_key, s.get(m));
                 put_sigs(s, m, text ? *text : "");
             }
         },
         1, {"manifest from mirror failed: " + not_verified, "manifest from github failed: " + not_verified}},
        {"not hex, wrong length", keyed, L"",
         [](const Served& s) {
             std::string t = s.get(sig(MIRROR_MANIFEST));
             put_sigs(s, MIRROR_MANIFEST, "g" + t.substr(1));
             put_sigs(s, GITHUB_MANIFEST, t.substr(2));
         },
         1, {"manifest from mirror failed: " + not_verified, "manifest from github failed: " + not_verified}},
        {"tampered on the mirror, signed on GitHub", keyed, L"",
         [&](const Served& s) {
             // The mirror offers other bytes for bin/core.dll and a manifest that vouches for them.
             std::string m = s.get(MIRROR_MANIFEST);
             std::size_t at = m.find("\"sha256\": \"", m.find("\"bin/core.dll\""));
             ASSERT_NE(at, std::string::npos);
             m.replace(at + 11, 64, df::setup::sha256_hex(evil));
             s.put(MIRROR_MANIFEST, m);
             s.put("v1.4.0/files/f__bin__core.dll", evil);
         },
         0, {"manifest from mirror failed: " + not_verified, "manifest from github: 3 files"}},
        {"default setup, signed release", plain, L"", [](const Served&) {}, 0, {"manifest from mirror: 3 files"}},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(remove_tree(server.root()));
        ReleaseSpec release;
        release.files = {{"duskfern-overlay.exe", "MZ overlay stand-in", {}, std::nullopt},
                         {"bin/core.dll", core, {}, std::nullopt},
                         {"res/a b.txt", "hello", {}, std::nullopt}};
        release.key_file = test_key;
        release.packed = row.packed;
        ASSERT_TRUE(publish_release(server.root(), server.http_base(), release));
        if (row.packed) {
            ASSERT_NE(Served{server}.get(MIRROR_MANIFEST).find("\"packed\""), std::string::npos);
        }
        row.edit(Served{server});
        server.clear_journal();

        std::wstring dir = scratch_folder("signed") + L"\\app", log = dir + L".log";
        std::wstring base = from_utf8(server.http_base());
        // DF_SETUP_EXE and DF_SETUP_TESTKEY_EXE put other builds under test (the release check
        // runs this table against release builds with and without the test key).
        std::string other = env(row.setup == keyed ? "DF_SETUP_TESTKEY_EXE" : "DF_SETUP_EXE");
        std::wstring exe = other.empty() ? build_file(row.setup) : windows_path(other);
        ProcessResult r = run_process(L"\"" + exe + L"\" --silent --dir \"" + dir + L"\" --log \"" +
                                          log + L"\" " + row.args,
                                      180000, L"DUSKFERN_UPDATE_MIRROR=" + base + L"\nDUSKFERN_UPDATE_BASE=" + base + L"/gh");
        std::string text = read_file(log);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.exit_code, row.code) << text;
        for (const std::string& line : row.lines) EXPECT_NE(text.find(" " + line + "\r\n"), std::string::npos) << line << "\n" << text;
        std::map<std::string, std::string> installed = files_below(dir);
        if (row.code == 0) {
            EXPECT_EQ(installed["bin/core.dll"], core) << "only signed digests are trusted";
            EXPECT_EQ(installed.size(), 3u);
        } else {
            EXPECT_TRUE(installed.empty()) << "nothing is installed without a signed manifest";
        }
        std::vector<std::string> paths;
        for (const auto& q : server.journal()) paths.push_back(q.path);
        if (row.setup == plain) {
            for (const std::string& p : paths) EXPECT_EQ(p.find(".sig"), std::string::npos) << p;
            EXPECT_EQ(paths.size(), 5u) << "the index, the manifest and the three files";
        } else if (std::string(row.name) == "signed, from the mirror") {
            ASSERT_GE(paths.size(), 3u);
            EXPECT_EQ(paths[1], "/v1.4.0/manifest.json");
            EXPECT_EQ(paths[2], "/" + digest_sig(Served{server}, MIRROR_MANIFEST));
        }
    }
}

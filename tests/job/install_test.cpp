// Silent installs with the real duskfern-setup.exe against the loopback release server,
// judged by exit code, log, install folder and the server's journal of requests.
#include "app/files.h"
#include "app/handle.h"
#include "app/log.h"
#include "folder/known_folder.h"
#include "net/error_text.h"
#include "release/manifest.h"
#include "tests/support/child_process.h"
#include "tests/support/publish_release.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <shobjidl.h>

#include <gtest/gtest.h>

using namespace df::setup;
using namespace df::test;

namespace {

struct Outcome {
    unsigned long exit_code = 0;
    std::string log;
    std::vector<TestServer::Request> requests;
};

class Install : public ::testing::Test {
protected:
    void SetUp() override {
        dir = scratch_folder("install") + L"\\app";
        log = dir + L".log";
        release.files = {
            {"duskfern-overlay.exe", "MZ overlay stand-in", {}, std::nullopt},
            {"bin/core.dll", std::string(200000, 'c'), {}, std::nullopt},
            {"res/my_data/a b.txt", "hello", {}, std::nullopt},
        };
    }

    void publish() {
        server.clear_faults();
        ASSERT_TRUE(remove_tree(server.root()));  // each test publishes its own release
        ASSERT_TRUE(df::test::publish_release(server.root(), server.http_base(), release));
        server.clear_journal();
    }

    Outcome run(const std::wstring& extra_args = L"") {
        std::wstring cmd = L"\"" + setup_exe() + L"\" --silent --dir \"" + dir +
                           L"\" --log \"" + log + L"\" " + extra_args;
        std::wstring env = L"DUSKFERN_UPDATE_MIRROR=" + from_utf8(server.http_base()) +
                           L"\nDUSKFERN_UPDATE_BASE=" + from_utf8(server.http_base()) + L"/gh";
        ProcessResult r = run_process(cmd, 180000, env);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timed_out);
        Outcome o{r.exit_code, read_file(log), server.journal()};
        ::DeleteFileW(log.c_str());
        server.clear_journal();
        return o;
    }

    std::wstring at(const std::string& rel) {
        std::wstring w = from_utf8(rel);
        for (auto& c : w) {
            if (c == L'/') c = L'\\';
        }
        return dir + L"\\" + w;
    }

    static bool has_line(const Outcome& o, const std::string& line) {
        return o.log.find(" " + line + "\r\n") != std::string::npos;
    }
    // The message of the run's "FAILED " line, or empty.
    static std::string failed_line(const Outcome& o) {
        const std::size_t at = o.log.rfind(" FAILED ");
        if (at == std::string::npos) return {};
        const std::size_t from = at + 8;
        return o.log.substr(from, o.log.find("\r\n", from) - from);
    }
    static int requests_to(const Outcome& o, const std::string& fragment) {
        int n = 0;
        for (const auto& r : o.requests) n += r.path.find(fragment) != std::string::npos;
        return n;
    }
    std::string url(const std::string& path) const { return server.http_base() + path; }
    // The request paths of a file published under its derived name on each source.
    static std::string on_mirror(const std::string& asset) { return "/v1.4.0/files/" + asset; }
    static std::string on_github(const std::string& asset) { return "/gh/download/v1.4.0/" + asset; }
    // Adds small files pack/f3.bin ... up to count files in all (derived names f__pack__fN.bin).
    void add_small_files(std::size_t count) {
        for (std::size_t i = release.files.size(); i < count; ++i) {
            release.files.push_back({"pack/f" + std::to_string(i) + ".bin", "small " + std::to_string(i), {}, std::nullopt});
        }
    }
    // Answers with status 200 per derived file name (after "f__"), over both sources.
    static std::map<std::string, int> whole_answers(const Outcome& o) {
        std::map<std::string, int> n;
        for (const auto& r : o.requests) {
            std::size_t p = r.path.find("/f__");
            if (p != std::string::npos && r.status == 200) ++n[r.path.substr(p + 1)];
        }
        return n;
    }

    void expect_installed() {
        for (const ReleaseFile& f : release.files) EXPECT_EQ(read_file(at(f.path)), f.content) << f.path;
        EXPECT_TRUE(file_exists(dir + L"\\data"));
    }

    // Installs v1.0.0 of an application and five DLLs and publishes v2.0.0 of the same files;
    // returns the folder as v1 left it.
    std::map<std::string, std::string> install_v1_publish_v2() {
        const std::string app = read_file(build_file("tools/duskfern-overlay.exe"));
        EXPECT_FALSE(app.empty());
        auto files_of = [&](const std::string& version) {
            std::vector<ReleaseFile> files = {{"duskfern-overlay.exe", app + version, {}, std::nullopt}};
            for (char n = '1'; n <= '5'; ++n) {
                files.push_back({std::string("bin/f") + n + ".dll", version + std::string(3000, n), {}, {}});
            }
            return files;
        };
        release.tag = "v1.0.0";
        release.files = files_of("v1");
        publish();
        EXPECT_EQ(run().exit_code, 0u);
        std::map<std::string, std::string> v1 = files_below(dir);
        release.tag = "v2.0.0";
        release.files = files_of("v2");
        publish();
        return v1;
    }

    // The folder's files without the part files.
    std::map<std::string, std::string> installed_files() {
        std::map<std::string, std::string> files = files_below(dir);
        std::erase_if(files, [](const auto& f) { return f.first.ends_with(".part"); });
        return files;
    }
    // The paths of the folder's files (part files aside) that differ from before, are new or gone.
    std::vector<std::string> changed_since(const std::map<std::string, std::string>& before) {
        std::map<std::string, std::string> now = installed_files();
        std::vector<std::string> changed;
        for (const auto& [path, bytes] : before) {
            if (!now.contains(path) || now[path] != bytes) changed.push_back(path);
        }
        for (const auto& f : now) {
            if (!before.contains(f.first)) changed.push_back(f.first);
        }
        return changed;
    }

    TestServer server;
    ReleaseSpec release;
    std::wstring dir, log;
};

}  // namespace

TEST_F(Install, FreshFromTheMirrorThenNothingFetchedAgain) {
    publish();
    Outcome first = run(L"--connections 1");  // one file after another: the order is the point
    EXPECT_EQ(first.exit_code, 0u) << first.log;
    expect_installed();
    EXPECT_TRUE(has_line(first, "sources mirror=" + url("/latest.json") + " github=" + url("/gh/releases/latest") +
                                    " prefer=mirror"))
        << first.log;
    EXPECT_TRUE(has_line(first, "latest v1.4.0 from mirror")) << first.log;
    EXPECT_TRUE(has_line(first, "manifest from mirror: 3 files")) << first.log;
    EXPECT_TRUE(has_line(first, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=3 from_github=0"))
        << first.log;
    // Exactly: the index, the manifest, and each file once, whole (no Range), with the setup's agent.
    ASSERT_EQ(first.requests.size(), 5u);
    EXPECT_EQ(first.requests[0].path, "/latest.json");
    EXPECT_EQ(first.requests[1].path, "/v1.4.0/manifest.json");
    EXPECT_EQ(first.requests[2].path, "/v1.4.0/files/f__duskfern-overlay.exe");
    EXPECT_EQ(first.requests[3].path, "/v1.4.0/files/f__bin__core.dll");
    EXPECT_EQ(first.requests[4].path, "/v1.4.0/files/f__res__my_5Fdata__a_20b.txt");
    for (const auto& r : first.requests) {
        EXPECT_FALSE(r.range.has_value()) << r.path;
        EXPECT_EQ(r.status, 200) << r.path;
        EXPECT_EQ(r.agent.rfind("duskfern-setup/0.7.1 (+", 0), 0u) << r.agent;
        EXPECT_EQ(r.accept, "application/vnd.github+json, application/octet-stream, */*");
    }

    Outcome second = run();
    EXPECT_EQ(second.exit_code, 0u) << second.log;
    EXPECT_EQ(requests_to(second, "/files/"), 0) << "a second run fetches no file";
    EXPECT_EQ(second.requests.size(), 2u);
    EXPECT_TRUE(has_line(second, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=3 from_github=0"));
}

TEST_F(Install, FreshFromGithub) {
    publish();
    Outcome o = run(L"--source github");
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    expect_installed();
    EXPECT_TRUE(has_line(o, "latest v1.4.0 from github")) << o.log;
    EXPECT_TRUE(has_line(o, "manifest from github: 3 files")) << o.log;
    EXPECT_TRUE(has_line(o, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=0 from_github=3"));
    EXPECT_EQ(requests_to(o, "/latest.json"), 0) << "the mirror is not asked when GitHub answers";
    EXPECT_EQ(requests_to(o, "/gh/download/v1.4.0/f__"), 3);
}

TEST_F(Install, ResumesAfterACutConnection) {
    publish();
    server.set_faults(R"({"/v1.4.0/files/f__bin__core.dll": {"cut_after": 65536, "times": 1}})");
    Outcome o = run();
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    expect_installed();
    std::vector<std::optional<std::string>> ranges;
    for (const auto& r : o.requests) {
        if (r.path == "/v1.4.0/files/f__bin__core.dll") ranges.push_back(r.range);
    }
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_FALSE(ranges[0].has_value());
    ASSERT_TRUE(ranges[1].has_value());
    EXPECT_EQ(*ranges[1], "bytes=65536-");
}

TEST_F(Install, FileFailingOnTheMirrorComesFromGithubAndTheMirrorIsDemoted) {
    publish();
    server.set_faults(R"({"/v1.4.0/files/f__duskfern-overlay.exe": {"status": 500}})");
    Outcome o = run(L"--connections 1");  // so every later file starts after the demotion
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    expect_installed();
    std::string bad = url("/v1.4.0/files/f__duskfern-overlay.exe");
    EXPECT_TRUE(has_line(o, "mirror duskfern-overlay.exe: download failed after 4 attempts: http 500 (" + bad + ")"))
        << o.log;
    EXPECT_TRUE(has_line(o, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=0 from_github=3")) << o.log;
    EXPECT_EQ(requests_to(o, "/v1.4.0/files/f__bin__core.dll"), 0) << "later files go to GitHub first";
}

TEST_F(Install, MissingOnTheMirrorKeepsTheMirrorFirst) {
    release.files[0].on_mirror = false;  // 404 on the mirror: not held against it
    publish();
    Outcome o = run();
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    expect_installed();
    EXPECT_TRUE(has_line(o, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=2 from_github=1")) << o.log;
}

TEST_F(Install, FileMissingOnBothSourcesFails) {
    release.files[1].on_mirror = false;
    release.files[1].on_github = false;
    publish();
    Outcome o = run();
    EXPECT_EQ(o.exit_code, 1u);
    std::string m = url("/v1.4.0/files/f__bin__core.dll"), g = url("/gh/download/v1.4.0/f__bin__core.dll");
    EXPECT_TRUE(has_line(o, "FAILED could not download bin/core.dll (http 404 (" + m + "); http 404 (" + g + "))"))
        << o.log;
    EXPECT_FALSE(file_exists(at("bin/core.dll")));
}

TEST_F(Install, NeitherSourceAnswers) {
    publish();
    server.set_faults(R"({"/latest.json": {"status": 500}, "/gh/releases/latest": {"status": 503}})");
    Outcome o = run();
    EXPECT_EQ(o.exit_code, 1u);
    std::string mirror_error = "http 500 (" + url("/latest.json") + ")";
    std::string github_error = "http 503 (" + url("/gh/releases/latest") + ")";
    EXPECT_TRUE(has_line(o, "latest from mirror failed: " + mirror_error)) << o.log;
    EXPECT_TRUE(has_line(o, "latest from github failed: " + github_error)) << o.log;
    EXPECT_TRUE(has_line(o, "FAILED neither the mirror nor GitHub answered (mirror: " + mirror_error +
                                "; github: " + github_error + ")"))
        << o.log;
}

TEST_F(Install, ManifestOfAnotherVersionFallsBackToTheSecondCandidate) {
    publish();
    std::string manifest = read_file(server.root() + L"\\v1.4.0\\manifest.json");
    std::size_t p = manifest.find("\"1.4.0\"");
    ASSERT_NE(p, std::string::npos);
    manifest.replace(p, 7, "\"1.3.0\"");
    ASSERT_TRUE(server.put_file("v1.4.0/manifest.json", manifest));
    Outcome o = run();
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    EXPECT_TRUE(has_line(o, "manifest from mirror failed: manifest is for 1.3.0")) << o.log;
    EXPECT_TRUE(has_line(o, "manifest from github: 3 files")) << o.log;
    expect_installed();
}

TEST_F(Install, NonVersionManifestIsNotTakenForAnotherNonVersionTag) {
    release.tag = "nightly";
    release.manifest_version = "build-2023";
    release.mirror = false;  // GitHub only: its tags need not be versions
    publish();
    Outcome o = run(L"--source github");
    EXPECT_EQ(o.exit_code, 1u) << o.log;
    EXPECT_TRUE(has_line(o, "manifest from github failed: manifest is for build-2023")) << o.log;
    EXPECT_TRUE(has_line(o, "FAILED could not fetch manifest.json")) << o.log;
}

TEST_F(Install, LatestJsonPointingOutsideTheMirrorUsesGithub) {
    publish();
    ASSERT_TRUE(server.put_file("latest.json",
                                R"({"tag": "v1.4.0", "manifest": "//elsewhere.example/m.json", "files_base": "/v1.4.0/files/"})"));
    Outcome o = run();
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    EXPECT_TRUE(has_line(o, "latest from mirror failed: latest.json points outside the mirror")) << o.log;
    EXPECT_TRUE(has_line(o, "latest v1.4.0 from github")) << o.log;
    expect_installed();
}

TEST_F(Install, WrongBytesAreNeverMovedIntoPlace) {
    publish();
    server.set_faults(R"({"/v1.4.0/files/f__res__my_5Fdata__a_20b.txt": {"wrong_bytes": true},
                          "/gh/download/v1.4.0/f__res__my_5Fdata__a_20b.txt": {"wrong_bytes": true}})");
    Outcome o = run();
    EXPECT_EQ(o.exit_code, 1u);
    std::string m = url("/v1.4.0/files/f__res__my_5Fdata__a_20b.txt");
    std::string g = url("/gh/download/v1.4.0/f__res__my_5Fdata__a_20b.txt");
    EXPECT_TRUE(has_line(o, "FAILED a downloaded file did not match the release: res/my_data/a b.txt (hash mismatch for " +
                                m + " (got 5 bytes); hash mismatch for " + g + " (got 5 bytes))"))
        << o.log;
    EXPECT_FALSE(file_exists(at("res/my_data/a b.txt")));
    EXPECT_FALSE(file_exists(at("res/my_data/a b.txt.part")));
}

TEST_F(Install, PreservedFilesAreNeverTouched) {
    release.files.push_back({"data/settings.json", "{\"new\": true}", {}, std::nullopt});
    release.files.push_back({"update.log", "new log", {}, std::nullopt});
    release.files.push_back({"update.log.", "trimmed name of the log", {}, std::nullopt});
    release.files.push_back({"Data./settings.json", "trimmed name of the settings", {}, std::nullopt});
    publish();
    ASSERT_EQ(create_folders(at("data")), 0u);
    ASSERT_TRUE(write_file(at("data/settings.json"), "user settings"));
    ASSERT_TRUE(write_file(at("update.log"), "user log"));
    ASSERT_TRUE(write_file(at("duskfern-overlay.exe"), "an earlier install"));  // the folder stays as it is
    Outcome o = run();
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    EXPECT_EQ(read_file(at("data/settings.json")), "user settings");
    EXPECT_EQ(read_file(at("update.log")), "user log");
    EXPECT_TRUE(has_line(o, "manifest from mirror: 7 files")) << o.log;
    EXPECT_TRUE(has_line(o, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=3 from_github=0")) << o.log;
    EXPECT_EQ(requests_to(o, "settings"), 0);
    EXPECT_EQ(requests_to(o, "update.log"), 0);
}

TEST_F(Install, ConflictingPathsFailBeforeAnyDownload) {
    const auto files = release.files;
    // The second path of each pair names the first one's file on Windows.
    const std::pair<const char*, const char*> pairs[] = {{"bin/extra.dll", "BIN/Extra.DLL"},
                                                         {"res/\u00c4.txt", "res/\u00e4.txt"}};
    for (const auto& [first, second] : pairs) {
        SCOPED_TRACE(second);
        release.files = files;
        release.files.push_back({first, "one", {}, std::string("first.bin")});
        release.files.push_back({second, "other", {}, std::string("second.bin")});
        publish();
        Outcome o = run();
        EXPECT_EQ(o.exit_code, 1u);
        EXPECT_TRUE(has_line(o, std::string("FAILED manifest lists conflicting paths: ") + second)) << o.log;
        EXPECT_EQ(requests_to(o, "/files/"), 0);
    }
    EXPECT_FALSE(file_exists(at("duskfern-overlay.exe"))) << "nothing installed";
}

TEST_F(Install, DataFileInTheWayFailsAfterTheFiles) {
    publish();
    ASSERT_EQ(create_folders(dir), 0u);
    ASSERT_TRUE(write_file(at("duskfern-overlay.exe"), "old"));  // keeps the folder as it is
    ASSERT_TRUE(write_file(at("data"), "not a folder"));
    Outcome o = run();
    EXPECT_EQ(o.exit_code, 1u);
    // The system's own words (on Windows "Cannot create a file when that file already exists.").
    EXPECT_TRUE(has_line(o, "FAILED cannot create data\\: " + system_error_message(ERROR_ALREADY_EXISTS))) << o.log;
    EXPECT_EQ(read_file(at("bin/core.dll")), release.files[1].content);
    EXPECT_EQ(read_file(at("data")), "not a folder");
}

TEST_F(Install, ShortcutPointsAtTheApplication) {
    publish();
    std::wstring lnk = known_folder_path(FOLDERID_Desktop) + L"\\duskfern.lnk";
    ::DeleteFileW(lnk.c_str());
    Outcome o = run(L"--shortcut");
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    EXPECT_TRUE(has_line(o, "shortcut " + to_utf8(lnk) + " ok")) << o.log;

    ComPtr<IShellLinkW> link;
    ASSERT_TRUE(SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                             reinterpret_cast<void**>(link.put()))));
    ComPtr<IPersistFile> file;
    ASSERT_TRUE(SUCCEEDED(link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))));
    ASSERT_TRUE(SUCCEEDED(file.get()->Load(lnk.c_str(), STGM_READ)));
    wchar_t target[MAX_PATH] = {}, work[MAX_PATH] = {};
    link.get()->GetPath(target, MAX_PATH, nullptr, 0);
    link.get()->GetWorkingDirectory(work, MAX_PATH);
    EXPECT_EQ(_wcsicmp(target, (dir + L"\\duskfern-overlay.exe").c_str()), 0) << to_utf8(target);
    EXPECT_EQ(_wcsicmp(work, dir.c_str()), 0) << to_utf8(work);

    // Without --shortcut nothing is said about one.
    Outcome again = run();
    EXPECT_EQ(again.log.find(" shortcut "), std::string::npos);
}

TEST_F(Install, FilesTravelSideBySideUpToTheirNumber) {
    add_small_files(6);
    publish();
    // Every file answer is held until `gather` of them are held at once (or `bound` seconds
    // pass): a run with fewer transfers in flight leaves each answer waiting out its bound.
    const struct {
        const wchar_t* args;
        int gather;
        double bound;
        bool gathered;
    } rows[] = {
        {L"--connections 3", 3, 30, true},
        {L"", 6, 30, true},                    // the default: six at once
        {L"--connections 2", 3, 0.3, false},  // never three
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(to_utf8(row.args));
        ASSERT_TRUE(remove_tree(dir));
        std::string table;
        for (const ReleaseFile& f : release.files) {
            table += std::string(table.empty() ? "{" : ", ") + "\"" + on_mirror(default_asset_name(f.path)) +
                     "\": {\"gather\": " + std::to_string(row.gather) + ", \"gather_seconds\": " +
                     std::to_string(row.bound) + "}";
        }
        server.set_faults(table + "}");
        Outcome o = run(row.args);
        EXPECT_EQ(o.exit_code, 0u) << o.log;
        expect_installed();
        EXPECT_EQ(whole_answers(o).size(), release.files.size());
        int held = 0;
        for (const auto& r : o.requests) {
            if (!r.gathered) continue;
            ++held;
            EXPECT_EQ(*r.gathered, row.gathered) << r.path;
        }
        EXPECT_EQ(held, 6) << "each file asked for once";
    }
}

TEST_F(Install, FallbackAndDemotionSideBySideDeliverEachFileOnce) {
    add_small_files(7);
    publish();
    // Three transfers: the overlay fails on the mirror (416 on every attempt, no pauses) while
    // the next two files are held on the mirror, released only once the overlay has been asked
    // of GitHub, that is after the mirror was demoted. Every later file starts after that.
    server.set_faults(R"({"/v1.4.0/files/f__duskfern-overlay.exe": {"status": 416},
                          "/gh/download/v1.4.0/f__duskfern-overlay.exe": {"gather": 3},
                          "/v1.4.0/files/f__bin__core.dll": {"gather": 3},
                          "/v1.4.0/files/f__res__my_5Fdata__a_20b.txt": {"gather": 3}})");
    Outcome o = run(L"--connections 3");
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    expect_installed();
    EXPECT_TRUE(has_line(o, "mirror duskfern-overlay.exe: http 416 (" + url(on_mirror("f__duskfern-overlay.exe")) + ")"))
        << o.log;
    EXPECT_TRUE(has_line(o, "installed 1.4.0 into " + to_utf8(dir) + " files=7 from_mirror=2 from_github=5")) << o.log;
    for (const auto& [name, n] : whole_answers(o)) EXPECT_EQ(n, 1) << name;
    EXPECT_EQ(whole_answers(o).size(), 7u);
    EXPECT_EQ(requests_to(o, on_mirror("f__pack__")), 0) << "files after the demotion go to GitHub first";
    for (const auto& r : o.requests) {
        if (r.gathered) {
            EXPECT_TRUE(*r.gathered) << r.path;
        }
    }
}

TEST_F(Install, FirstFailureStopsTheTransfersInFlightWithItsOwnMessage) {
    // Plan order: the overlay, core.dll, more.dll, gone.dll (on neither source), then the rest.
    release.files.insert(release.files.begin() + 2, {"bin/more.dll", std::string(200000, 'm'), {}, std::nullopt});
    release.files.insert(release.files.begin() + 3, {"bin/gone.dll", "gone", {}, std::nullopt, false, false});
    add_small_files(7);
    publish();
    // Three transfers: the overlay arrives, then gone.dll and the two DLLs meet before any is
    // answered; the DLLs then trickle, and gone.dll's second 404 comes 2 s later, so they are in
    // flight with bytes in their part files when it fails.
    server.set_faults(R"({"/v1.4.0/files/f__bin__gone.dll": {"gather": 3},
                          "/gh/download/v1.4.0/f__bin__gone.dll": {"gather": 9, "gather_seconds": 2},
                          "/v1.4.0/files/f__bin__core.dll": {"gather": 3, "rate": 20000},
                          "/v1.4.0/files/f__bin__more.dll": {"gather": 3, "rate": 20000}})");
    Outcome o = run(L"--connections 3");
    EXPECT_EQ(o.exit_code, 1u) << o.log;
    std::string m = url(on_mirror("f__bin__gone.dll")), g = url(on_github("f__bin__gone.dll"));
    EXPECT_TRUE(has_line(o, "FAILED could not download bin/gone.dll (http 404 (" + m + "); http 404 (" + g + "))"))
        << o.log;
    EXPECT_EQ(requests_to(o, "f__pack__"), 0) << "no file starts after the failure";
    EXPECT_EQ(requests_to(o, "f__res__"), 0);
    std::uint64_t kept = 0;
    for (const char* dll : {"bin/core.dll", "bin/more.dll"}) {
        EXPECT_FALSE(file_exists(at(dll))) << dll;
        std::uint64_t part = file_size(at(std::string(dll) + ".part")).value_or(0);
        EXPECT_GT(part, 0u) << dll;
        EXPECT_LT(part, 200000u) << dll;
        if (std::string(dll) == "bin/core.dll") kept = part;
    }

    // The rerun resumes the kept part files.
    ASSERT_TRUE(server.put_file("v1.4.0/files/f__bin__gone.dll", "gone"));
    server.clear_faults();
    Outcome again = run();
    EXPECT_EQ(again.exit_code, 0u) << again.log;
    expect_installed();
    bool resumed = false;
    for (const auto& r : again.requests) {
        if (r.path == on_mirror("f__bin__core.dll")) resumed = r.range == "bytes=" + std::to_string(kept) + "-";
    }
    EXPECT_TRUE(resumed) << "core.dll from byte " << kept;
}

// An upgrade that fails before its commit, whatever the reason, leaves every file of the installed
// version as it was, and only a fault of a source is held against it; the rerun fetches only what
// is not yet verified in its part file and completes the folder.
TEST_F(Install, UpgradeFailingBeforeTheCommitLeavesTheInstalledVersion) {
    struct Row {
        const char* name;
        const char* held;       // a file another program holds open without delete sharing
        const char* running;    // a program image of the folder running
        const char* missing;    // a file on neither source
        const char* no_part;    // a file whose part file cannot be written (a folder in its place)
        int file_requests;      // the requests for files of the run that fails
        int rerun_requests;     // and of the rerun
    };
    const Row rows[] = {
        {"held open", "bin/f3.dll", nullptr, nullptr, nullptr, 6, 0},
        {"running", nullptr, "duskfern-overlay.exe", nullptr, nullptr, 6, 0},
        {"missing", nullptr, nullptr, "bin/f3.dll", nullptr, 4, 3},
        {"cannot write", nullptr, nullptr, nullptr, "bin/f2.dll", 2, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(remove_tree(dir));
        const std::map<std::string, std::string> v1 = install_v1_publish_v2();
        ASSERT_FALSE(v1.empty());
        std::string failed;
        if (row.missing) {
            for (ReleaseFile& f : release.files) f.on_mirror = f.on_github = f.path != row.missing;
            publish();
            failed = "could not download bin/f3.dll (http 404 (" + url("/v2.0.0/files/f__bin__f3.dll") +
                     "); http 404 (" + url("/gh/download/v2.0.0/f__bin__f3.dll") + "))";
        }
        if (row.no_part) {
            ASSERT_TRUE(::CreateDirectoryW((at(row.no_part) + L".part").c_str(), nullptr));
            failed = std::string("could not download ") + row.no_part + " (cannot write " + to_utf8(at(row.no_part)) +
                     ".part)";
        }
        UniqueFile held;
        if (row.held) {
            held.reset(::CreateFileW(at(row.held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
            ASSERT_TRUE(held);
        }
        ChildProcess app;
        if (row.running) {
            ASSERT_TRUE(app.start(L"\"" + at(row.running) + L"\" --stay"));
        }

        Outcome o = run(L"--connections 1");  // the files up to the failure, one after another
        EXPECT_EQ(o.exit_code, 1u) << o.log;
        const std::string line = failed_line(o);
        if (const char* in_use = row.held ? row.held : row.running) {
            // Where the system names the programs (not under Wine), their names follow the path.
            EXPECT_TRUE(line.starts_with(to_utf8(at(in_use)))) << line;
            EXPECT_TRUE(line.ends_with(" is in use by another program (close duskfern and try again)")) << line;
        } else {
            EXPECT_EQ(line, failed);
        }
        EXPECT_EQ(changed_since(v1), std::vector<std::string>{}) << "every file of v1 as it was";
        EXPECT_EQ(requests_to(o, "/v2.0.0/files/"), row.file_requests) << "each file once, from the mirror";
        EXPECT_EQ(requests_to(o, "/gh/download/"), row.missing ? 1 : 0) << "a local fault is not retried from GitHub";

        held.reset();
        app.kill();
        if (row.no_part) {
            ASSERT_TRUE(::RemoveDirectoryW((at(row.no_part) + L".part").c_str()));
        }
        if (row.missing) {
            for (ReleaseFile& f : release.files) f.on_mirror = f.on_github = true;
            publish();
        }
        Outcome again = run();
        EXPECT_EQ(again.exit_code, 0u) << again.log;
        expect_installed();
        EXPECT_EQ(requests_to(again, "/files/"), row.rerun_requests) << "verified part files move without a request";
        EXPECT_TRUE(has_line(again, "installed 2.0.0 into " + to_utf8(dir) + " files=6 from_mirror=6 from_github=0"))
            << again.log;
        EXPECT_EQ(installed_files().size(), files_below(dir).size()) << "no part file left";
    }
}

// A move that is refused during the commit (here: a part file that another program holds open)
// says which file could not be replaced, and the rerun completes the folder without a request.
TEST_F(Install, MoveRefusedDuringTheCommitIsCompletedByTheRerun) {
    install_v1_publish_v2();
    const ReleaseFile& f4 = release.files[4];
    ASSERT_EQ(f4.path, "bin/f4.dll");
    const std::wstring part = at(f4.path) + L".part";
    ASSERT_TRUE(write_file(part, f4.content));  // verified by an earlier run
    Outcome o;
    {
        UniqueFile held(::CreateFileW(part.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        o = run();
    }
    EXPECT_EQ(o.exit_code, 1u) << o.log;
    const std::string failed = "FAILED cannot replace " + to_utf8(at(f4.path)) + ": ";
    EXPECT_TRUE(has_line(o, failed + system_error_text(ERROR_SHARING_VIOLATION)) ||
                has_line(o, failed + system_error_text(ERROR_ACCESS_DENIED)))
        << o.log;
    EXPECT_EQ(requests_to(o, "/files/"), 5) << "the held part file is verified without a request";
    for (std::size_t i = 0; i < release.files.size(); ++i) {
        EXPECT_EQ(read_file(at(release.files[i].path)) == release.files[i].content, i < 4)
            << release.files[i].path << ": moved in plan order up to the refusal";
    }

    Outcome again = run();
    EXPECT_EQ(again.exit_code, 0u) << again.log;
    expect_installed();
    EXPECT_EQ(requests_to(again, "/files/"), 0);
}

int main(int argc, char** argv) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

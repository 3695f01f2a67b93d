// Silent installs with the real duskfern-setup.exe against the loopback release server,
// judged by exit code, log, install folder and the server's journal of requests.
#include "app/files.h"
#include "app/handle.h"
#include "app/log.h"
#include "folder/known_folder.h"
#include "net/part_files.h"
#include "net/error_text.h"
#include "release/manifest.h"
#include "tests/job/install_fixture.h"
#include "tests/support/child_process.h"

#include <shobjidl.h>

#include <algorithm>

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

using namespace df::setup;
using namespace df::test;

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
    EXPECT_TRUE(has_installed(first, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=3 from_github=0"))
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
    EXPECT_TRUE(has_installed(second, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=3 from_github=0"));
}

TEST_F(Install, FreshFromGithub) {
    publish();
    Outcome o = run(L"--source github");
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    expect_installed();
    EXPECT_TRUE(has_line(o, "latest v1.4.0 from github")) << o.log;
    EXPECT_TRUE(has_line(o, "manifest from github: 3 files")) << o.log;
    EXPECT_TRUE(has_installed(o, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=0 from_github=3"));
    EXPECT_EQ(requests_to(o, "/latest.json"), 0) << "the mirror is not asked when GitHub answers";
    EXPECT_EQ(requests_to(o, "/gh/download/v1.4.0/f__"), 3);
}

TEST_F(Install, ProgressLinesEveryFiveSecondsWithTheWindowsFigures) {
    release.files.resize(1);  // nothing but the slowed file moves more than a few bytes
    release.files.push_back({"bin/slow.bin", std::string(3u << 20, 's'), {}, std::string("slow.bin")});
    publish();
    server.set_faults(R"({"/v1.4.0/files/slow.bin": {"rate": 262144}})");  // 12 s at 256 KB/s
    Outcome o = run(L"--connections 1");  // one transfer at a time: the server's rate is the download's
    ASSERT_EQ(o.exit_code, 0u) << o.log;
    const std::regex progress(R"(progress \d / 2 files, (\d+\.\d) / (\d+\.\d) MB, (\d+) KB/s, about (\d+) s left)");
    std::int64_t begin = 0, end = 0, last = 0;
    std::vector<std::int64_t> lines;  // the progress lines' time stamps, ms
    std::istringstream log(o.log);
    for (std::string line; std::getline(log, line);) {
        std::int64_t ms = ((std::stoll(line.substr(11, 2)) * 60 + std::stoll(line.substr(14, 2))) * 60 +
                           std::stoll(line.substr(17, 2))) * 1000 + std::stoll(line.substr(20, 3));
        last = ms = ms < last ? ms + 86400000 : ms;  // past midnight
        const std::string message = line.substr(24, line.size() - 25);
        if (message.starts_with("manifest from mirror: ")) begin = ms;
        if (message.starts_with("installed ")) end = ms;
        if (!message.starts_with("progress ")) continue;
        lines.push_back(ms);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(message, m, progress)) << message;
        const int speed_kb = std::stoi(m[3]);
        EXPECT_LE(speed_kb, 282) << message << ": faster than the server sends";
        EXPECT_NEAR(std::stoi(m[4]), (std::stod(m[2]) - std::stod(m[1])) * 1024 / speed_kb, 2.0) << message;
    }
    // One line for each whole 5 s of the files phase, never two closer than that.
    const std::int64_t periods = (end - begin) / 5000;
    EXPECT_GE(periods, 2) << o.log;
    EXPECT_LE(std::ssize(lines), periods) << o.log;
    EXPECT_GE(std::ssize(lines), periods - 1) << o.log;
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_GE(lines[i] - lines[i - 1], 4900) << o.log;
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
    EXPECT_TRUE(has_installed(o, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=0 from_github=3")) << o.log;
    EXPECT_EQ(requests_to(o, "/v1.4.0/files/f__bin__core.dll"), 0) << "later files go to GitHub first";
}

TEST_F(Install, MissingOnTheMirrorKeepsTheMirrorFirst) {
    release.files[0].on_mirror = false;  // 404 on the mirror: not held against it
    publish();
    Outcome o = run();
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    expect_installed();
    EXPECT_TRUE(has_installed(o, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=2 from_github=1")) << o.log;
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
    EXPECT_TRUE(has_installed(o, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=3 from_github=0")) << o.log;
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
    for (ReleaseFile& f : release.files) f.asset = "";  // the mirror's alone: its transfers are counted
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
    // Three transfers a source: the overlay fails on the mirror (416 on every attempt, no pauses)
    // while the next two files are held on the mirror, released only once the overlay has been
    // asked of GitHub. Every file arrives once, from one source or the other.
    server.set_faults(R"({"/v1.4.0/files/f__duskfern-overlay.exe": {"status": 416},
                          "/gh/download/v1.4.0/f__duskfern-overlay.exe": {"gather": 3},
                          "/v1.4.0/files/f__bin__core.dll": {"gather": 3},
                          "/v1.4.0/files/f__res__my_5Fdata__a_20b.txt": {"gather": 3}})");
    Outcome o = run(L"--connections 3");
    EXPECT_EQ(o.exit_code, 0u) << o.log;
    expect_installed();
    EXPECT_TRUE(has_line(o, "mirror duskfern-overlay.exe: http 416 (" + url(on_mirror("f__duskfern-overlay.exe")) + ")"))
        << o.log;
    for (const auto& [name, n] : whole_answers(o)) EXPECT_EQ(n, 1) << name;
    EXPECT_EQ(whole_answers(o).size(), 7u);
    EXPECT_EQ(requests_to(o, on_github("f__duskfern-overlay.exe")), 1);
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
    // The DLLs trickle from the start; each 404 of gone.dll (on whichever source has room first,
    // then the other) comes 2 s after its request, so the DLLs are in flight with bytes in their
    // part files when it fails.
    server.set_faults(R"({"/v1.4.0/files/f__bin__gone.dll": {"gather": 99, "gather_seconds": 2},
                          "/gh/download/v1.4.0/f__bin__gone.dll": {"gather": 99, "gather_seconds": 2},
                          "/v1.4.0/files/f__bin__core.dll": {"rate": 20000},
                          "/v1.4.0/files/f__bin__more.dll": {"rate": 20000}})");
    Outcome o = run(L"--connections 3");
    EXPECT_EQ(o.exit_code, 1u) << o.log;
    std::string m = "http 404 (" + url(on_mirror("f__bin__gone.dll")) + ")", g = "http 404 (" + url(on_github("f__bin__gone.dll")) + ")";
    // A source with room starts it: the mirror, or GitHub when the mirror's three are busy.
    const std::string line = failed_line(o);
    EXPECT_TRUE(line == "could not download bin/gone.dll (" + m + "; " + g + ")" ||
                line == "could not download bin/gone.dll (" + g + "; " + m + ")")
        << o.log;
    double failed_at = 0;
    for (const auto& r : o.requests) {
        if (r.path.find("f__bin__gone.dll") != std::string::npos) failed_at = std::max(failed_at, r.at);
    }
    for (const auto& r : o.requests) {
        if (r.path.find("f__pack__") != std::string::npos || r.path.find("f__res__") != std::string::npos) {
            EXPECT_LT(r.at, failed_at) << r.path << ": no file starts after the failure";
        }
    }
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
        const char* also_held = nullptr;  // a second file held like the first
    };
    const Row rows[] = {
        {"held open", "bin/f3.dll", nullptr, nullptr, nullptr, 6, 0},
        {"running", nullptr, "duskfern-overlay.exe", nullptr, nullptr, 6, 0},
        {"missing", nullptr, nullptr, "bin/f3.dll", nullptr, 4, 3},
        {"cannot write", nullptr, nullptr, nullptr, "bin/f2.dll", 2, 4},
        {"two held open", "bin/f2.dll", nullptr, nullptr, nullptr, 6, 0, "bin/f4.dll"},
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
        UniqueFile held, also_held;
        if (row.held) {
            held.reset(::CreateFileW(at(row.held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
            ASSERT_TRUE(held);
        }
        if (row.also_held) {
            also_held.reset(::CreateFileW(at(row.also_held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        }
        ChildProcess app;
        if (row.running) {
            ASSERT_TRUE(app.start(L"\"" + at(row.running) + L"\" --stay"));
        }

        Outcome o = run(L"--connections 1");  // the files up to the failure, one after another
        EXPECT_EQ(o.exit_code, 1u) << o.log;
        const std::string line = failed_line(o);
        if (row.also_held) {
            // Both in the one message, each followed by its programs where the system names them.
            EXPECT_TRUE(line.starts_with(to_utf8(at(row.held)))) << line;
            EXPECT_NE(line.find(", " + to_utf8(at(row.also_held))), std::string::npos) << line;
            EXPECT_TRUE(line.ends_with(" are in use by other programs (close duskfern and try again)")) << line;
        } else if (const char* in_use = row.held ? row.held : row.running) {
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
        also_held.reset();
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
        EXPECT_TRUE(has_installed(again, "installed 2.0.0 into " + to_utf8(dir) + " files=6 from_mirror=6 from_github=0"))
            << again.log;
        EXPECT_EQ(installed_files().size(), files_below(dir).size()) << "no part file left";
    }
}

// A move that is refused during the commit (here: a part file that another program holds open)
// says which file could not be replaced and undoes the files replaced before it; the rerun
// completes the folder without a request.
TEST_F(Install, MoveRefusedDuringTheCommitIsCompletedByTheRerun) {
    const std::map<std::string, std::string> v1 = install_v1_publish_v2();
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
    EXPECT_EQ(changed_since(v1), std::vector<std::string>{}) << "the files replaced before the refusal put back";
    for (const ReleaseFile& f : release.files) {
        EXPECT_EQ(read_file(at(f.path) + L".part"), f.content) << f.path << ": kept as its verified part file";
    }

    Outcome again = run();
    EXPECT_EQ(again.exit_code, 0u) << again.log;
    expect_installed();
    EXPECT_EQ(requests_to(again, "/files/"), 0);
}

// A fresh install into a folder of the user's choosing that stops before the executable arrives
// leaves the folder it started in marked as an unfinished install: the rerun finishes it there
// and fetches none of the files it holds verified.
TEST_F(Install, FreshInstallStoppedEarlyIsFinishedInItsFolder) {
    std::rotate(release.files.begin(), release.files.begin() + 1, release.files.end());  // the executable last
    release.files[1].on_mirror = release.files[1].on_github = false;                     // a b.txt on neither source
    publish();
    Outcome o = run(L"--connections 1");
    EXPECT_EQ(o.exit_code, 1u) << o.log;
    EXPECT_EQ(requests_to(o, "f__duskfern-overlay.exe"), 0) << "stopped before the executable";
    EXPECT_EQ(read_file(at("bin/core.dll.part")), release.files[0].content);

    release.files[1].on_mirror = release.files[1].on_github = true;
    publish();
    Outcome again = run();
    EXPECT_EQ(again.exit_code, 0u) << again.log;
    EXPECT_EQ(again.log.find("folder holds other files"), std::string::npos) << again.log;
    expect_installed();
    EXPECT_EQ(requests_to(again, "f__bin__core.dll"), 0) << "the verified part moves without a request";
    EXPECT_EQ(installed_files().size(), files_below(dir).size()) << "no part file left";
}

// The states a commit stopped part way leaves (by a kill or a power cut), and a file held open by
// another program with delete sharing: the run ends with one release, without a request, and
// leaves nothing of the old one behind.
TEST_F(Install, UpgradeCommitEndsWithOneRelease) {
    const struct {
        const char* name;
        // Per file in plan order (the executable, then bin/f1 ... f5): p old and the new one
        // verified in its part file, a old one aside and the new part, n new one in and old aside,
        // h as p with the old file held open with delete sharing.
        const char* states;
    } rows[] = {
        {"stopped at the third file", "nnappp"},
        {"held with delete sharing", "pphppp"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(remove_tree(dir));
        install_v1_publish_v2();
        UniqueFile held;
        for (std::size_t i = 0; i < release.files.size(); ++i) {
            const std::wstring dest = at(release.files[i].path), aside = dest + L".part-old";
            const std::string& v2 = release.files[i].content;
            const char state = row.states[i];
            if (state == 'a' || state == 'n') {
                ASSERT_TRUE(::MoveFileW(dest.c_str(), aside.c_str()));
            }
            ASSERT_TRUE(write_file(state == 'n' ? dest : dest + L".part", v2));
            if (state == 'h') {
                held.reset(::CreateFileW(dest.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
                ASSERT_TRUE(held);
            }
        }
        Outcome o = run();
        EXPECT_EQ(o.exit_code, 0u) << o.log;
        EXPECT_EQ(requests_to(o, "/files/"), 0);
        expect_installed();
        // An old file still held open may keep its aside's name until it is closed (under Wine).
        EXPECT_TRUE(held || installed_files().size() == files_below(dir).size()) << "no part file left";
        held.reset();
        Outcome again = run();  // removes what is left, and is not confused by it
        EXPECT_EQ(again.exit_code, 0u) << again.log;
        EXPECT_EQ(requests_to(again, "/files/"), 0);
        EXPECT_EQ(installed_files().size(), files_below(dir).size()) << "no part file left";
    }
}

int main(int argc, char** argv) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

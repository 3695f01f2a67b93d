#pragma once
// The fixture of the silent installs with the real duskfern-setup.exe against the loopback
// release server: a release to publish, a run judged by exit code, log, install folder and the
// server's journal of requests, and the helpers that read them.
#include "app/files.h"
#include "app/handle.h"
#include "app/log.h"
#include "net/part_files.h"
#include "release/manifest.h"
#include "tests/support/publish_release.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace df::setup;

namespace df::test {

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
    // The closing line up to the byte counts that follow it.
    static bool has_installed(const Outcome& o, const std::string& line) {
        return o.log.find(" " + line + " bytes_received=") != std::string::npos;
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

    // The folder's files without the part files (of every kind).
    std::map<std::string, std::string> installed_files() {
        std::map<std::string, std::string> files = files_below(dir);
        std::erase_if(files, [](const auto& f) { return part_kind_of(from_utf8(f.first)).has_value(); });
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

}  // namespace df::test

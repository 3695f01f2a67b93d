// What travels for a file: its packed copy, and a large transfer cut in pieces over both sources,
// with the real duskfern-setup.exe against the loopback release server, judged by the server's
// journal of requests, the log and the install folder.
#include "job/pieces.h"
#include "net/part_files.h"
#include "net/sha256.h"
#include "tests/job/install_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/deflated.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace df::setup;
using namespace df::test;

namespace {

// Bytes that do not pack: each one from a small generator.
std::string noise(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return s;
}

// A byte range "bytes=A-B" as two numbers; nothing for another header.
std::optional<std::pair<std::uint64_t, std::uint64_t>> range_of(const std::optional<std::string>& header) {
    unsigned long long a = 0, b = 0;
    if (!header || std::sscanf(header->c_str(), "bytes=%llu-%llu", &a, &b) != 2) return std::nullopt;
    return std::make_pair(a, b);
}

class Transfer : public Install {
protected:
    // Publishes the release, then gives file i a packed copy made of gz on both sources, named
    // as the release tool names it, and lists it in both manifests.
    void publish_packed(std::size_t i, const std::string& gz) {
        publish();
        const std::string asset = default_asset_name(release.files[i].path) + ".gz";
        ASSERT_TRUE(server.put_file("v1.4.0/files/" + asset, gz));
        ASSERT_TRUE(server.put_file("gh/download/v1.4.0/" + asset, gz));
        for (const char* manifest : {"v1.4.0/manifest.json", "gh/download/v1.4.0/manifest.json"}) {
            auto doc = nlohmann::ordered_json::parse(read_file(server.root() + L"\\" + windows_path_of(manifest)));
            doc["files"][i]["packed"] = {{"asset", asset}, {"size", gz.size()}, {"sha256", sha256_hex(gz)}};
            ASSERT_TRUE(server.put_file(manifest, doc.dump(2) + "\n"));
        }
        ASSERT_TRUE(write_github_document(server.root(), server.http_base(), release.tag));
        server.clear_journal();
    }

    static std::wstring windows_path_of(const std::string& rel) {
        std::wstring w = from_utf8(rel);
        std::replace(w.begin(), w.end(), L'/', L'\\');
        return w;
    }

    // The ranged requests for path that the journal holds, as (first, last) byte.
    static std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces_of(const Outcome& o, const std::string& path) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
        for (const auto& r : o.requests) {
            if (r.path != path) continue;
            if (auto range = range_of(r.range)) out.push_back(*range);
        }
        return out;
    }

    std::wstring command(const std::wstring& extra_args) const {
        return L"\"" + setup_exe() + L"\" --silent --dir \"" + dir + L"\" --log \"" + log + L"\" " + extra_args;
    }
    std::wstring environment() const {
        return L"DUSKFERN_UPDATE_MIRROR=" + from_utf8(server.http_base()) + L"\nDUSKFERN_UPDATE_BASE=" +
               from_utf8(server.http_base()) + L"/gh";
    }
};

}  // namespace

// A file that comes packed: its copy is fetched, resumed after a cut, replaced by the raw bytes of
// the same source where it is missing; and a copy whose bytes match its manifest entry but not
// the file is a mismatch of each source, never installed.
TEST_F(Transfer, PackedCopies) {
    const std::string& core = release.files[1].content;  // 200,000 bytes of one letter
    const std::string gz = deflated(core);
    std::string flipped = gz;
    flipped[flipped.size() / 2] ^= 0x55;
    struct Row {
        const char* name;
        std::string copy;
        std::string faults;
        bool drop_on_mirror;
        std::string failed;  // the run's failure after "did not match the release: bin/core.dll (", or ""
    } rows[] = {
        {"fetched", gz, "", false, ""},
        {"cut and resumed", gz, R"({"/v1.4.0/files/f__bin__core.dll.gz": {"cut_after": 40, "times": 1}})", false, ""},
        {"missing on the mirror", gz, "", true, ""},
        {"a corrupt stream", flipped, "", false, "packed copy does not inflate"},
        {"a stream longer than the file", deflated(core + "x"), "", false, "packed copy inflates past 200000 bytes"},
        {"other bytes of the file's size", deflated(std::string(200000, 'd')), "", false, "hash mismatch for "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(remove_tree(dir));
        publish_packed(1, row.copy);
        if (row.drop_on_mirror) {
            ASSERT_TRUE(remove_tree(server.root() + L"\\v1.4.0\\files\\f__bin__core.dll.gz"));
        }
        if (!row.faults.empty()) server.set_faults(row.faults);
        Outcome o = run(L"--connections 1");
        const std::string gz_path = on_mirror("f__bin__core.dll.gz");
        if (!row.failed.empty()) {
            EXPECT_EQ(o.exit_code, 1u) << o.log;
            const std::string line = failed_line(o);
            EXPECT_TRUE(line.starts_with("a downloaded file did not match the release: bin/core.dll (" + row.failed)) << line;
            EXPECT_NE(line.find(url(on_github("f__bin__core.dll.gz"))), std::string::npos) << "both sources asked";
            EXPECT_FALSE(file_exists(at("bin/core.dll")));
            for (PartKind k : {PartKind::bytes, PartKind::packed}) EXPECT_FALSE(file_exists(part_path(at("bin/core.dll"), k)));
            continue;
        }
        EXPECT_EQ(o.exit_code, 0u) << o.log;
        expect_installed();
        EXPECT_EQ(requests_to(o, "f__bin__core.dll.gz"), row.faults.empty() ? 1 : 2);
        EXPECT_EQ(requests_to(o, "f__bin__core.dll"), requests_to(o, "f__bin__core.dll.gz") + (row.drop_on_mirror ? 1 : 0))
            << "the raw bytes travel only where the copy is missing";
        if (row.drop_on_mirror) {
            EXPECT_TRUE(has_line(o, "mirror bin/core.dll: http 404 (" + url(gz_path) + ")")) << o.log;
            EXPECT_TRUE(has_line(o, "mirror bin/core.dll: 200000 bytes")) << o.log;
        } else {
            EXPECT_TRUE(has_line(o, "mirror bin/core.dll: 200000 bytes packed as " + std::to_string(row.copy.size())))
                << o.log;
            EXPECT_TRUE(has_installed(o, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=3 from_github=0"));
            EXPECT_NE(o.log.find(" bytes_installed=200024"), std::string::npos) << o.log;
        }
        if (!row.faults.empty()) {
            EXPECT_EQ(o.requests.back().range.value_or(""), "") << "the overlay and a b.txt come after";
            bool resumed = false;
            for (const auto& r : o.requests) resumed = resumed || (r.path == gz_path && r.range == "bytes=40-");
            EXPECT_TRUE(resumed) << "the copy resumed after its first 40 bytes";
        }
    }
}

// A large file travels in pieces from both sources at once, each byte asked for once; with one
// connection it travels whole. A source that answers a range otherwise serves whole files.
TEST_F(Transfer, PiecesFromBothSourcesAndServersThatDoNotPlayAlong) {
    release.files[1].content = noise(5u << 20, 7);  // five pieces of 1 MiB
    const std::string m = on_mirror("f__bin__core.dll"), g = on_github("f__bin__core.dll");
    struct Row {
        const char* name;
        const wchar_t* args;
        std::string faults;
        bool in_pieces;
    } rows[] = {
        {"both sources", L"--connections 2", "", true},
        {"one connection", L"--connections 1", "", false},
        {"ranges ignored", L"", R"({")" + m + R"(": {"ignore_range": true}, ")" + g + R"(": {"ignore_range": true}})", false},
        {"another range", L"", R"({")" + m + R"(": {"other_range": true}, ")" + g + R"(": {"other_range": true}})", false},
        {"416", L"", R"({")" + m + R"(": {"status": 416, "times": 1}, ")" + g + R"(": {"status": 416, "times": 1}})", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(remove_tree(dir));
        publish();
        if (!row.faults.empty()) server.set_faults(row.faults);
        Outcome o = run(row.args);
        EXPECT_EQ(o.exit_code, 0u) << o.log;
        expect_installed();
        std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces = pieces_of(o, m), from_github = pieces_of(o, g);
        if (!row.in_pieces) {
            // Whole, once; before it at most the one ranged request that showed each source's
            // answer to a range.
            EXPECT_LE(pieces.size(), 1u);
            EXPECT_LE(from_github.size(), 1u);
            int whole = 0;
            for (const auto& r : o.requests) whole += (r.path == m || r.path == g) && !r.range && r.status == 200;
            EXPECT_EQ(whole, 1);
            continue;
        }
        EXPECT_FALSE(pieces.empty()) << "the mirror served pieces";
        EXPECT_FALSE(from_github.empty()) << "GitHub served pieces";
        pieces.insert(pieces.end(), from_github.begin(), from_github.end());
        std::sort(pieces.begin(), pieces.end());
        std::uint64_t next = 0;
        for (const auto& [first, last] : pieces) {
            EXPECT_EQ(first, next) << "every byte asked for once";
            next = last + 1;
        }
        EXPECT_EQ(next, release.files[1].content.size());
        EXPECT_TRUE(has_line(o, "mirror+github bin/core.dll: 5242880 bytes in 5 pieces")) << o.log;
    }
}

// Pieces kept across runs: a kill keeps the finished pieces and what the ones in flight wrote,
// and the next run asks for no byte it holds (a cut inside a piece resumes within it); a damaged
// record counts for nothing.
TEST_F(Transfer, PiecesKeptAcrossRunsAndARecordNeverTakenOnTrust) {
    release.files[1].content = noise(5u << 20, 11);
    const std::string m = on_mirror("f__bin__core.dll");
    const std::wstring record = part_path(at("bin/core.dll"), PartKind::pieces);
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "a damaged record" : "a kill, then a cut");
        ASSERT_TRUE(remove_tree(dir));
        publish();
        // Each piece takes a second: the run is killed once one piece is whole and another begun.
        server.set_faults(R"({")" + m + R"(": {"rate": 1048576}, ")" + on_github("f__bin__core.dll") +
                          R"(": {"rate": 1048576}})");
        std::optional<PieceRecord> held;
        {
            ChildProcess setup;
            ASSERT_TRUE(setup.start(command(L"--connections 2"), environment()));
            const std::uint64_t size = release.files[1].content.size();
            const std::string sha = sha256_hex(release.files[1].content);
            for (int i = 0; i < 600; ++i) {
                held = read_record(read_file(record), size, sha);
                auto whole = [&](std::uint64_t d) { return d == 1u << 20; };
                auto begun = [&](std::uint64_t d) { return d > 0 && d < 1u << 20; };
                if (held && std::any_of(held->done.begin(), held->done.end(), whole) &&
                    std::any_of(held->done.begin(), held->done.end(), begun)) {
                    break;
                }
                held.reset();
                std::this_thread::sleep_for(std::chrono::milliseconds(50));  // polls the record, bounded
            }
            setup.kill();
        }
        ASSERT_TRUE(held) << "a record of a whole piece and a begun one";
        held = read_record(read_file(record), held->size, held->sha256);  // as the kill left it
        ASSERT_TRUE(held);
        if (damaged) {
            std::string text = read_file(record);
            text[text.find("done ") + 5] ^= 1;
            ASSERT_TRUE(write_file(record, text));
        }
        server.clear_journal();
        server.set_faults(damaged ? "{}" : R"({")" + m + R"(": {"cut_after": 1000, "times": 1}})");
        Outcome o = run(L"--connections 2");
        EXPECT_EQ(o.exit_code, 0u) << o.log;
        expect_installed();
        std::vector<std::pair<std::uint64_t, std::uint64_t>> asked = pieces_of(o, m), more = pieces_of(o, on_github("f__bin__core.dll"));
        asked.insert(asked.end(), more.begin(), more.end());
        std::sort(asked.begin(), asked.end());
        ASSERT_FALSE(asked.empty());
        if (damaged) {
            EXPECT_EQ(asked.front().first, 0u) << "every piece again";
            continue;
        }
        const PieceLayout layout = held->layout();
        for (const auto& [first, last] : asked) {
            for (std::size_t p = 0; p < layout.count(); ++p) {
                const std::uint64_t kept_end = layout.first(p) + held->done[p];
                EXPECT_FALSE(first < kept_end && last >= layout.first(p)) << first << "-" << last << " holds kept bytes";
            }
        }
        // The cut piece is asked for again from its 1001st byte.
        const auto cut = *range_of(std::find_if(o.requests.begin(), o.requests.end(), [&](const auto& r) {
                             return r.path == m;
                         })->range);
        EXPECT_TRUE(std::any_of(asked.begin(), asked.end(), [&](const auto& r) {
            return r.first == cut.first + 1000 && r.second == cut.second;
        })) << "resumed inside the piece";
    }
}

// A file whose pieces from both sources fail verification is fetched from each source alone in
// turn, so the source that sends wrong bytes is named in the log.
TEST_F(Transfer, ALyingSourceIsFoundAfterAMixedMismatch) {
    release.files[1].content = noise(5u << 20, 13);
    const std::string m = on_mirror("f__bin__core.dll"), g = on_github("f__bin__core.dll");
    for (const std::string& liar : {g, m}) {
        SCOPED_TRACE(liar);
        ASSERT_TRUE(remove_tree(dir));
        publish();
        server.set_faults(R"({")" + liar + R"(": {"wrong_bytes": true}})");
        Outcome o = run(L"--connections 2");
        EXPECT_EQ(o.exit_code, 0u) << o.log;
        expect_installed();
        EXPECT_NE(o.log.find(" mirror+github bin/core.dll: hash mismatch for "), std::string::npos) << o.log;
        const std::string named = liar == g ? "github bin/core.dll: " : "mirror bin/core.dll: hash mismatch for " + url(m);
        EXPECT_NE(o.log.find(" " + named), std::string::npos) << o.log;
        EXPECT_TRUE(has_installed(o, "installed 1.4.0 into " + to_utf8(dir) + " files=3 from_mirror=" +
                                         (liar == g ? "3 from_github=0" : "2 from_github=1")))
            << o.log;
    }
}

#include "job/plan.h"

#include <gtest/gtest.h>

using namespace df::setup;

namespace {

ManifestFile entry(const std::string& path, std::uint64_t size = 1, const std::string& asset = "") {
    ManifestFile f;
    f.path = path;
    f.size = size;
    f.sha256 = std::string(64, 'a');
    f.asset = asset;
    return f;
}

ReleaseInfo record(Source s, const std::string& tag) {
    ReleaseInfo r;
    r.source = s;
    r.tag = tag;
    return r;
}

}  // namespace

TEST(Plan, PreservedPaths) {
    struct Case {
        const char* path;
        bool preserved;
    } cases[] = {
        {"data", true},          {"Data/settings.json", true}, {"LOGS/x.txt", true},
        {"webview/a/b", true},   {"update-staging/x", true},   {"update-backup/x", true},
        {"update-result.json", true}, {"update.log", true},    {"Update.LOG", true},
        // Windows drops trailing dots and spaces, so these reach the same files.
        {"update.log.", true},   {"update.log ", true},        {"data./settings.json", true},
        {"data /settings.json", true}, {"logs. /x", true},     {"data.", true},
        // Near misses that are ordinary files.
        {"database/x", false},   {"logs", false},              {"data-file", false},
        {"mydata/x", false},     {"update.logs", false},       {"update-results.json", false},
        {"bin/data/x", false},   {"webview", false},           {"update.log/x", false},
        // Letters that Windows upper-cases to ASCII ones ("ſ" to S, "ı" to I) reach
        // the same folders; others do not.
        {"log\u017f/x", true}, {"update-stag\u0131ng/x", true}, {"Upd\u00c5te.log", false},
        {"dat\u00e5/x", false},
    };
    for (const Case& c : cases) EXPECT_EQ(is_preserved_path(c.path), c.preserved) << c.path;
}

TEST(Plan, PathProblems) {
    constexpr auto none = PathProblem::none, unsafe = PathProblem::unsafe, dot = PathProblem::trailing_dot_or_space,
                   reserved = PathProblem::reserved_name, preserved = PathProblem::preserved;
    struct Case {
        const char* path;
        PathProblem problem;
    } cases[] = {
        {"a", none},         {"bin/app.exe", none},   {"COM0", none},      {"console/x", none},
        {"lpt10.txt", none}, {"...x", none},          {".config/y", none}, {"a b/c d.txt", none},
        {"con", reserved},   {"bin/LPT1.txt", reserved}, {"Nul/x", reserved}, {"aux.", dot},
        {"com9.log", reserved}, {"x.", dot},          {"x ", dot},         {"a./b", dot},
        {"a /b", dot},       {"", unsafe},            {"/abs", unsafe},    {"a\\b", unsafe},
        {"c:x", unsafe},     {"a//b", unsafe},        {"../x", unsafe},    {"a?b", unsafe},
        // The first segment that breaks a rule decides; preserved only for an otherwise good path.
        {"con/x.", reserved}, {"x./con", dot},        {"data/x", preserved}, {"data/con", reserved},
        {"database/x", none},
    };
    for (const Case& c : cases) EXPECT_EQ(path_problem(c.path), c.problem) << c.path;
}

TEST(Plan, BuildKeepsOrderAndSumsSizes) {
    Manifest m;
    m.files = {entry("b.txt", 10), entry("data/settings.json", 100), entry("con/x", 1000), entry("a/c.txt", 20),
               entry("update.log.", 5), entry("LOGS/x", 7)};
    Plan p = build_plan(m);
    ASSERT_EQ(p.files.size(), 2u);
    EXPECT_EQ(p.files[0].path, "b.txt");
    EXPECT_EQ(p.files[1].path, "a/c.txt");
    EXPECT_EQ(p.bytes_total, 30u);
    EXPECT_EQ(build_plan(Manifest{}).bytes_total, 0u);
}

TEST(Plan, ConflictingPaths) {
    struct Case {
        std::vector<std::string> paths;
        std::optional<std::string> second;
    } cases[] = {
        {{"Core.dll", "core.dll"}, "core.dll"},
        {{"bin/A.txt", "x", "BIN/a.TXT"}, "BIN/a.TXT"},
        {{"a.dll", "a.dll.part"}, "a.dll.part"},
        {{"a.dll.part", "a.dll"}, "a.dll"},
        {{"A.DLL", "a.dll.PART"}, "a.dll.PART"},
        {{"a.dll", "b.dll", "a.dll2", "a.part"}, std::nullopt},
        // Every part file of a delivery counts, and only they.
        {{"a.dll", "A.DLL.Part-Pieces"}, "A.DLL.Part-Pieces"},
        {{"a.dll.part-old", "a.dll"}, "a.dll"},
        {{"a.dll", "a.dll.part-packed2", "a.dll.partold", "a.dll-part-old"}, std::nullopt},
        {{".part", "x.part"}, std::nullopt},
        {{}, std::nullopt},
        // Windows folds case beyond ASCII, one UTF-16 unit at a time.
        {{"\u00c4.txt", "\u00e4.txt"}, "\u00e4.txt"},
        {{"x/\u03c3", "x/\u03a3"}, "x/\u03a3"},
        {{"\u03c2", "\u03a3"}, "\u03a3"},
        {{"\u00e4.dll", "\u00c4.DLL.part"}, "\u00c4.DLL.part"},
        {{"stra\u00dfe.txt", "strasse.txt", "A.txt", "\u00c1.txt"}, std::nullopt},
        {{"\U00010400.txt", "\U00010428.txt"}, std::nullopt},  // outside the BMP: never folded
    };
    for (const Case& c : cases) {
        Plan p;
        for (const auto& path : c.paths) p.files.push_back(entry(path));
        EXPECT_EQ(conflicting_path(p), c.second) << (c.paths.empty() ? "" : c.paths[0]);
        // The listing of every clash starts with the same one.
        std::vector<PathConflict> all = path_conflicts(c.paths);
        EXPECT_EQ(all.empty() ? std::nullopt : std::optional(all[0].later), c.second);
    }
    std::vector<PathConflict> all = path_conflicts({"A.txt", "b", "a.TXT", "a.txt.part", "B.part", "c", "a.txt"});
    ASSERT_EQ(all.size(), 4u);
    auto is = [](const PathConflict& c, const char* earlier, const char* later, ConflictKind kind) {
        return c.earlier == earlier && c.later == later && c.kind == kind;
    };
    EXPECT_TRUE(is(all[0], "A.txt", "a.TXT", ConflictKind::same_file));
    EXPECT_TRUE(is(all[1], "A.txt", "a.txt.part", ConflictKind::part_file_of_earlier));
    EXPECT_TRUE(is(all[2], "b", "B.part", ConflictKind::part_file_of_earlier));
    EXPECT_TRUE(is(all[3], "A.txt", "a.txt", ConflictKind::same_file));
    std::vector<PathConflict> reversed = path_conflicts({"x.dll.part", "X.DLL"});
    ASSERT_EQ(reversed.size(), 1u);
    EXPECT_TRUE(is(reversed[0], "x.dll.part", "X.DLL", ConflictKind::earlier_is_part_file));
}

TEST(Plan, WindowsNameKey) {
    struct Case {
        const char* path;
        const char* key;
    } cases[] = {
        {"bin/a.TXT", "BIN/A.TXT"},
        {"\u00e4\u0131\u017f\u00df\u00ff", "\u00c4IS\u00df\u0178"},  // ß has no one-letter upper case
        {"\u0101\u0100\u01c6\u1f80", "\u0100\u0100\u01c4\u1f88"},
        {"\U00010428", "\U00010428"},
        // Bytes that start no valid character stay as they are; the text after them is folded.
        {"a\xC3", "A\xC3"},
        {"\xC3z\xC3\xA4", "\xC3Z\u00c4"},
        {"\xE0\x80\xA1" "b", "\xE0\x80\xA1" "B"},  // overlong
        {"\xED\xA0\x80x", "\xED\xA0\x80X"},  // a surrogate
        {"\xC1\xA1", "\xC1\xA1"},
        {"\xFFq", "\xFFQ"},
    };
    for (const Case& c : cases) EXPECT_EQ(windows_name_key(c.path), c.key) << c.path;
}

TEST(Plan, ManifestAcceptance) {
    struct Case {
        const char* version;
        const char* tag;
        bool accepted;
    } cases[] = {
        {"", "v1.2.3", true},           {"", "nightly", true},          {"1.2.3", "v1.2.3", true},
        {"1.2", "v1.2.0", true},        {"1.2.3+b", "1.2.3", true},     {"1.2.3", "v1.2.4", false},
        {"1.2.3-rc.1", "v1.2.3", false}, {"nightly", "nightly", true},  {"build-2023", "nightly", false},
        {"release-7", "release-7", true}, {"1.2.3", "nightly", false},  {"nightly", "v1.2.3", false},
        {"X", "vX", false},             {"vX", "vX", true},
    };
    for (const Case& c : cases) EXPECT_EQ(manifest_accepted(c.version, c.tag), c.accepted) << c.version << " / " << c.tag;
}

TEST(Plan, RelativeAddress) {
    EXPECT_EQ(relative_address(entry("bin/app.exe", 1, "app-x64.exe")), "app-x64.exe");
    EXPECT_EQ(relative_address(entry("bin/app.exe")), "f__bin__app.exe");
    EXPECT_EQ(relative_address(entry("my_data/a b.txt")), "f__my_5Fdata__a_20b.txt");
}

TEST(Plan, Demotion) {
    std::vector<ReleaseInfo> list = {record(Source::mirror, "m"), record(Source::github, "g")};
    demote(list, Source::mirror);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].tag, "g");
    EXPECT_EQ(list[1].tag, "m");
    demote(list, Source::mirror);  // already last: unchanged
    EXPECT_EQ(list[0].tag, "g");
    std::vector<ReleaseInfo> three = {record(Source::github, "g1"), record(Source::mirror, "m"),
                                      record(Source::github, "g2")};
    demote(three, Source::github);  // only the first of that source moves
    EXPECT_EQ(three[0].tag, "m");
    EXPECT_EQ(three[1].tag, "g2");
    EXPECT_EQ(three[2].tag, "g1");
}

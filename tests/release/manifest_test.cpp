#include "release/manifest.h"

#include "tests/release/json_errors.h"

#include <gtest/gtest.h>

using namespace df::setup;
using nlohmann::json;

namespace {

const std::string D = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string D_UPPER = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

std::string error_of(const std::string& text) {
    std::string error = "untouched";
    EXPECT_FALSE(parse_manifest(text, &error)) << text;
    return error;
}

// A manifest whose only file entry is entry.
std::string with_entry(const std::string& entry) { return R"({"version":"1.0.0","files":[)" + entry + "]}"; }

std::string entry(const std::string& path, const std::string& extra = "") {
    return json({{"path", path}, {"sha256", D}}).dump().insert(1, extra.empty() ? "" : extra + ",");
}

}  // namespace

TEST(Manifest, ValidDocument) {
    std::string error = "untouched";
    auto m = parse_manifest(R"({
        "version": "1.2.3",
        "files": [
            {"path": "duskfern-overlay.exe", "size": 123456, "sha256": ")" + D_UPPER + R"(", "asset": "app.exe"},
            {"path": "bin/a b_c.dll", "sha256": ")" + D + R"("},
            {"path": "res/x.pak", "size": 0, "sha256": ")" + D + R"(", "asset": null},
            {"path": "res/y.pak", "size": 1, "sha256": ")" + D + R"(", "asset": ""}
        ],
        "zip": {"name": "duskfern.zip", "size": 999, "sha256": "ABCdef"},
        "extra": {"ignored": true}
    })", &error);
    ASSERT_TRUE(m) << error;
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(m->version, "1.2.3");
    ASSERT_EQ(m->files.size(), 4u);
    EXPECT_EQ(m->files[0].path, "duskfern-overlay.exe");
    EXPECT_EQ(m->files[0].size, 123456u);
    EXPECT_EQ(m->files[0].sha256, D);  // lower-cased
    EXPECT_EQ(m->files[0].asset, "app.exe");
    EXPECT_EQ(m->files[1].size, 0u);
    EXPECT_EQ(m->files[1].asset, "f__bin__a_20b_5Fc.dll");
    EXPECT_EQ(m->files[2].asset, "");
    EXPECT_EQ(m->files[3].asset, "");
    EXPECT_EQ(m->zip.name, "duskfern.zip");
    EXPECT_EQ(m->zip.size, 999u);
    EXPECT_EQ(m->zip.sha256, "abcdef");
}

TEST(Manifest, EmptyFilesAndMissingVersion) {
    auto m = parse_manifest(R"({"files":[]})");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->version, "");
    EXPECT_TRUE(m->files.empty());
    EXPECT_EQ(m->zip.name, "");
    EXPECT_EQ(m->zip.size, 0u);
}

TEST(Manifest, DocumentProblems) {
    struct Case {
        std::string text, error;
    } cases[] = {
        {"[]", "manifest has no files array"},
        {"null", "manifest has no files array"},
        {R"("files")", "manifest has no files array"},
        {"{}", "manifest has no files array"},
        {R"({"files":{}})", "manifest has no files array"},
        {R"({"files":null})", "manifest has no files array"},
        {R"({"files":"a"})", "manifest has no files array"},
        // The files array is checked before the version's type.
        {R"({"version":5})", "manifest has no files array"},
        {R"({"version":5,"files":[]})", df::test::type_error_text<std::string>(json(5))},
        {R"({"version":null,"files":[]})", df::test::type_error_text<std::string>(json(nullptr))},
        // The version is read before the entries.
        {R"({"version":[],"files":[5]})", df::test::type_error_text<std::string>(json::array())},
        {R"({"files":[5]})", "file entry is not an object"},
        {R"({"files":[[]]})", "file entry is not an object"},
        {R"({"files":[null]})", "file entry is not an object"},
        // The first failing entry decides.
        {R"({"files":[)" + entry("ok") + R"(,{"path":"/abs","sha256":"x"},5]})", "unsafe path in manifest: /abs"},
        {R"({"files":[)" + entry("ok") + R"(,5,{"path":"/abs"}]})", "file entry is not an object"},
        // A bad entry fails the document even when zip is broken as well (entries come first).
        {R"({"files":[5],"zip":{"size":"1"}})", "file entry is not an object"},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.text), c.error) << c.text;
}

TEST(Manifest, EntryProblems) {
    const std::string D63 = D.substr(0, 63);
    struct Case {
        std::string entry, error;
    } cases[] = {
        {R"({"sha256":")" + D + R"("})", "unsafe path in manifest: "},
        {R"({"path":"a"})", "bad sha256 for a"},
        {R"({"path":"a","sha256":")" + D63 + R"("})", "bad sha256 for a"},
        {R"({"path":"a","sha256":")" + D + R"(0"})", "bad sha256 for a"},
        {R"({"path":"a","sha256":")" + D63 + R"(g"})", "bad sha256 for a"},
        {R"({"path":"a","sha256":")" + D63 + R"( "})", "bad sha256 for a"},
        {R"({"path":"a","sha256":")" + D63 + R"(\u0000"})", "bad sha256 for a"},
        // An unsafe path is reported before a bad digest.
        {R"({"path":"../a","sha256":"zz"})", "unsafe path in manifest: ../a"},
        {R"({"path":"C:/a","sha256":")" + D + R"("})", "unsafe path in manifest: C:/a"},
        // Type errors of path and digest are the library's; the path is read first.
        {R"({"path":5,"sha256":")" + D + R"("})", df::test::type_error_text<std::string>(json(5))},
        {R"({"path":5,"sha256":true})", df::test::type_error_text<std::string>(json(5))},
        {R"({"path":"a","sha256":true})", df::test::type_error_text<std::string>(json(true))},
        {R"({"path":null,"sha256":")" + D + R"("})", df::test::type_error_text<std::string>(json(nullptr))},
        {R"({"path":"a","sha256":[]})", df::test::type_error_text<std::string>(json::array())},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(with_entry(c.entry)), c.error) << c.entry;
}

TEST(Manifest, EntrySizeAndAsset) {
    struct Case {
        std::string members;  // besides path "dir/f_1.txt" and the digest
        std::uint64_t size;
        std::string asset;
    } cases[] = {
        {R"("size":-1)", 0, "f__dir__f_5F1.txt"},
        {R"("size":2.5)", 0, "f__dir__f_5F1.txt"},
        {R"("size":1e300)", 0, "f__dir__f_5F1.txt"},
        {R"("size":"12")", 0, "f__dir__f_5F1.txt"},
        {R"("size":null)", 0, "f__dir__f_5F1.txt"},
        {R"("size":true)", 0, "f__dir__f_5F1.txt"},
        {R"("size":18446744073709551615)", 18446744073709551615ULL, "f__dir__f_5F1.txt"},
        {R"("size":18446744073709551616)", 0, "f__dir__f_5F1.txt"},  // beyond 64 bits: a float
        {R"("size":0)", 0, "f__dir__f_5F1.txt"},
        {R"("asset":null)", 0, ""},
        {R"("asset":"")", 0, ""},
        {R"("asset":"named.bin")", 0, "named.bin"},
        {R"("asset":7)", 0, "f__dir__f_5F1.txt"},
        {R"("asset":false)", 0, "f__dir__f_5F1.txt"},
        {R"("asset":["x"])", 0, "f__dir__f_5F1.txt"},
        {R"("asset":{})", 0, "f__dir__f_5F1.txt"},
    };
    for (const auto& c : cases) {
        std::string error;
        auto m = parse_manifest(with_entry(entry("dir/f_1.txt", c.members)), &error);
        ASSERT_TRUE(m) << c.members << ": " << error;
        ASSERT_EQ(m->files.size(), 1u);
        EXPECT_EQ(m->files[0].size, c.size) << c.members;
        EXPECT_EQ(m->files[0].asset, c.asset) << c.members;
    }
}

// The packed copy of an entry: read when well formed, the entry refused with the reason when not.
// Its raw fields never change with it, which is what a setup that ignores the member reads.
TEST(Manifest, PackedMember) {
    const std::string P = R"("path":"a","size":100,"sha256":")" + D + R"(","asset":"raw",)";
    const std::string ok_packed = R"({"asset":"f__a.gz","size":40,"sha256":")" + D_UPPER + R"(","later":1})";
    struct Case {
        std::string members;
        std::string error;  // empty: read
        bool packed;
    } cases[] = {
        {P + R"("packed":)" + ok_packed, "", true},
        {P + R"("packed":null)", "", false},
        // A member the reader does not know is ignored, whatever it holds: so a setup that knows no
        // "packed" reads an entry that has one, with the raw fields of every row here.
        {P + R"("packed_v2":{"asset":7},"later":[1])", "", false},
        {P + R"("packed":{"asset":")" + std::string(255, 'x') + R"(","size":1,"sha256":")" + D + R"("})", "", true},
        {P + R"("packed":"f__a.gz")", "bad packed member for a: not an object", false},
        {P + R"("packed":{"size":40,"sha256":")" + D + R"("})", "bad packed member for a: asset name", false},
        {P + R"("packed":{"asset":")" + std::string(256, 'x') + R"(","size":1,"sha256":")" + D + R"("})",
         "bad packed member for a: asset name", false},
        {P + R"("packed":{"asset":"../x","size":1,"sha256":")" + D + R"("})", "bad packed member for a: asset name", false},
        {P + R"("packed":{"asset":"..","size":1,"sha256":")" + D + R"("})", "bad packed member for a: asset name", false},
        {P + R"("packed":{"asset":"x","size":0,"sha256":")" + D + R"("})", "bad packed member for a: size", false},
        {P + R"("packed":{"asset":"x","size":2.5,"sha256":")" + D + R"("})", "bad packed member for a: size", false},
        {P + R"("packed":{"asset":"x","size":"40","sha256":")" + D + R"("})", "bad packed member for a: size", false},
        {P + R"("packed":{"asset":"x","size":40,"sha256":")" + D.substr(1) + R"("})",
         "bad packed member for a: sha256", false},
        {R"("path":"a","sha256":")" + D + R"(","packed":)" + ok_packed, "bad packed member for a: the file has no size",
         false},
    };
    for (const auto& c : cases) {
        std::string error;
        auto m = parse_manifest(with_entry("{" + c.members + "}"), &error);
        EXPECT_EQ(m.has_value(), c.error.empty()) << c.members;
        if (!m) {
            EXPECT_EQ(error, c.error) << c.members;
            continue;
        }
        const ManifestFile& f = m->files.at(0);
        EXPECT_EQ(f.path + "/" + std::to_string(f.size) + "/" + f.sha256 + "/" + f.asset, "a/100/" + D + "/raw");
        ASSERT_EQ(f.packed.has_value(), c.packed) << c.members;
        if (c.members.find("f__a.gz") != std::string::npos) {
            EXPECT_EQ(f.packed->asset + "/" + std::to_string(f.packed->size) + "/" + f.packed->sha256, "f__a.gz/40/" + D);
        }
    }
}

TEST(Manifest, ZipMember) {
    struct Case {
        std::string zip;
        bool ok;
        std::uint64_t size;
        std::string error;
    } cases[] = {
        {R"("zip":"duskfern.zip")", true, 0, ""},  // not an object: ignored
        {R"("zip":[1])", true, 0, ""},
        {R"("zip":null)", true, 0, ""},
        {R"("zip":{})", true, 0, ""},
        {R"("zip":{"size":18446744073709551615})", true, 18446744073709551615ULL, ""},
        // Numbers other than non-negative integers give 0 rather than an undefined conversion.
        {R"("zip":{"size":-1})", true, 0, ""},
        {R"("zip":{"size":-2.5})", true, 0, ""},
        {R"("zip":{"size":1e300})", true, 0, ""},
        {R"("zip":{"size":2.5})", true, 0, ""},
        {R"("zip":{"size":"1"})", false, 0, df::test::type_error_text<std::uint64_t>(json("1"))},
        {R"("zip":{"size":null})", false, 0, df::test::type_error_text<std::uint64_t>(json(nullptr))},
        {R"("zip":{"size":[]})", false, 0, df::test::type_error_text<std::uint64_t>(json::array())},
        {R"("zip":{"size":true})", false, 0, "[json.exception.type_error.302] type must be number, but is boolean"},
        {R"("zip":{"name":1})", false, 0, df::test::type_error_text<std::string>(json(1))},
        {R"("zip":{"sha256":{}})", false, 0, df::test::type_error_text<std::string>(json::object())},
    };
    for (const auto& c : cases) {
        std::string text = R"({"files":[],)" + c.zip + "}";
        std::string error;
        auto m = parse_manifest(text, &error);
        EXPECT_EQ(m.has_value(), c.ok) << text;
        if (m) {
            EXPECT_EQ(m->zip.size, c.size) << text;
        } else {
            EXPECT_EQ(error, c.error) << text;
        }
    }
}

TEST(Manifest, InvalidJsonAndComments) {
    for (const std::string text : {"", "{", R"({"files":[]} 1)", "{\"files\":[]} // c", "{\"files\":[/* c */]}",
                                   "{\"files\":[],}"}) {
        std::string expected = df::test::parse_error_text(text);
        ASSERT_FALSE(expected.empty()) << text;
        EXPECT_EQ(error_of(text), expected) << text;
    }
}

TEST(Manifest, ManyFiles) {
    json files = json::array();
    for (int i = 0; i < 5000; ++i) files.push_back({{"path", "d" + std::to_string(i % 50) + "/f" + std::to_string(i)}, {"size", i}, {"sha256", D_UPPER}});
    auto m = parse_manifest(json({{"version", "v2"}, {"files", files}}).dump());
    ASSERT_TRUE(m);
    ASSERT_EQ(m->files.size(), 5000u);
    EXPECT_EQ(m->files[4999].path, "d49/f4999");
    EXPECT_EQ(m->files[4999].size, 4999u);
    EXPECT_EQ(m->files[4999].sha256, D);
    EXPECT_EQ(m->files[4999].asset, "f__d49__f4999");
}

TEST(ParseManifestFile, NeverThrows) {
    std::string error;
    EXPECT_FALSE(parse_manifest_file(json({{"path", 5}}), &error));
    EXPECT_EQ(error, df::test::type_error_text<std::string>(json(5)));
    EXPECT_FALSE(parse_manifest_file(json(5), &error));
    EXPECT_EQ(error, "file entry is not an object");
    EXPECT_FALSE(parse_manifest_file(json::object()));
    auto f = parse_manifest_file(json({{"path", "a"}, {"sha256", D}, {"size", 3}}));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->size, 3u);
    // A non-negative signed integer built in code counts like a parsed one; a negative one is 0.
    f = parse_manifest_file(json({{"path", "a"}, {"sha256", D}, {"size", std::int64_t{5}}}));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->size, 5u);
    f = parse_manifest_file(json({{"path", "a"}, {"sha256", D}, {"size", std::int64_t{-5}}}));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->size, 0u);
}

TEST(SafeRelativePath, Table) {
    struct Case {
        std::string path;
        bool safe;
    } cases[] = {
        {"a", true},
        {"bin/app.exe", true},
        {"a/b/c/d.txt", true},
        {".../x", true},
        {"...", true},
        {".config/x", true},
        {"..a", true},
        {"a..", true},
        {"a b.txt", true},
        {"\xe4\xb8\xad\xe6\x96\x87/\xc3\xa9t\xc3\xa9.txt", true},
        {"a\x7f", true},
        {"~/x", true},
        {"a.", true},  // left to Windows; not a traversal
        {"", false},
        {"/a", false},
        {"\\a", false},
        {"a\\b", false},
        {"C:/x", false},
        {"C:", false},
        {"a:b", false},  // alternate data stream
        {"a//b", false},
        {"a/", false},
        {"./a", false},
        {"a/./b", false},
        {"..", false},
        {"../a", false},
        {"a/..", false},
        {"a/../b", false},
        {".", false},
        {"a\tb", false},
        {"a\nb", false},
        {"a\x1f", false},
        {std::string("a\0b", 3), false},
        {"a?b", false},
        {"a*b", false},
        {"a|b", false},
        {"a<b", false},
        {"a>b", false},
        {"a\"b", false},
        {std::string(1024, 'a'), true},
        {std::string(1025, 'a'), false},
        {std::string(1023, 'a') + "/", false},
        {"d/" + std::string(1022, 'a'), true},
        {"d/" + std::string(1023, 'a'), false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_safe_relative_path(c.path), c.safe) << '"' << c.path << '"';
    // Why: length first, then characters anywhere, then segments.
    const std::pair<std::string, UnsafePath> reasons[] = {
        {"", UnsafePath::length},          {std::string(1025, 'a'), UnsafePath::length},
        {"\\abs", UnsafePath::character},  {"../a?b", UnsafePath::character},
        {"/abs", UnsafePath::segment},     {"a/..", UnsafePath::segment},
        {"a/b", UnsafePath::none},
    };
    for (const auto& [path, reason] : reasons) EXPECT_EQ(unsafe_path(path), reason) << path;
}

TEST(DefaultAssetName, Table) {
    struct Case {
        std::string path, name;
    } cases[] = {
        {"bin/app.exe", "f__bin__app.exe"},
        {"my_data/a b.txt", "f__my_5Fdata__a_20b.txt"},
        {"a\\b", "f__a__b"},
        {"AZaz09-.", "f__AZaz09-."},
        {"e\xc3\xa9", "f__e_C3_A9"},
        {"x\x7f~!", "f__x_7F_7E_21"},
        {std::string("\0", 1), "f___00"},
        {"", "f__"},
        {"__", "f___5F_5F"},
    };
    for (const auto& c : cases) EXPECT_EQ(default_asset_name(c.path), c.name) << c.path;
}

// A manifest path that passes the rule always yields a name of the safe alphabet.
TEST(DefaultAssetName, AlphabetForEveryByte) {
    for (int b = 0; b < 256; ++b) {
        std::string name = default_asset_name(std::string(1, static_cast<char>(b)));
        for (char c : name) {
            bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
            EXPECT_TRUE(ok) << b;
        }
    }
}

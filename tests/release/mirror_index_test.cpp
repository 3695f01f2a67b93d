#include "release/mirror_index.h"

#include "tests/release/json_errors.h"

#include <gtest/gtest.h>

using namespace df::setup;
using nlohmann::json;

namespace {

std::string error_of(const std::string& text) {
    std::string error = "untouched";
    EXPECT_FALSE(parse_mirror_index(text, &error)) << text;
    return error;
}

}  // namespace

TEST(MirrorIndex, FullDocument) {
    std::string error = "untouched";
    auto index = parse_mirror_index(R"({
        "tag": "v1.4.0", "version": "1.4.0", "published": "2024-05-01T10:00:00Z",
        "notes_head": "Faster start.\nFixes.", "manifest": "/v1.4.0/manifest.json",
        "files_base": "/v1.4.0/files", "setup": "/duskfern-setup.exe", "unknown": [1, {"x": null}]
    })", &error);
    ASSERT_TRUE(index);
    EXPECT_EQ(error, "untouched");  // success leaves the destination alone
    EXPECT_EQ(index->tag, "v1.4.0");
    EXPECT_EQ(index->version, "1.4.0");
    EXPECT_EQ(index->published, "2024-05-01T10:00:00Z");
    EXPECT_EQ(index->notes_head, "Faster start.\nFixes.");
    EXPECT_EQ(index->manifest, "/v1.4.0/manifest.json");
    EXPECT_EQ(index->files_base, "/v1.4.0/files");
    EXPECT_EQ(index->setup, "/duskfern-setup.exe");
}

TEST(MirrorIndex, MinimalDocumentLeavesOptionalMembersEmpty) {
    auto index = parse_mirror_index(R"({"tag":"v2","manifest":"/m.json","files_base":"/f"})");
    ASSERT_TRUE(index);
    EXPECT_EQ(index->version, "2");
    EXPECT_EQ(index->setup, "");
    EXPECT_EQ(index->notes_head, "");
    EXPECT_EQ(index->published, "");
}

TEST(MirrorIndex, TagAndVersionDeriveEachOther) {
    struct Case {
        std::string members;  // besides manifest and files_base
        std::string tag, version;
    } cases[] = {
        {R"("version":"1.4.0")", "v1.4.0", "1.4.0"},
        {R"("version":"V2.0")", "V2.0", "V2.0"},
        {R"("version":"v2.0")", "v2.0", "v2.0"},
        {R"("tag":"v1.4.0")", "v1.4.0", "1.4.0"},
        {R"("tag":"1.4.0")", "1.4.0", "1.4.0"},
        {R"("tag":"v3","version":"something else")", "v3", "something else"},  // both kept as read
        {R"("tag":" v1.2.3+build.9 ")", " v1.2.3+build.9 ", " v1.2.3+build.9 "},
        {R"("tag":"","version":"1.0")", "v1.0", "1.0"},  // an empty tag counts as missing
        {R"("tag":5,"version":"1.0")", "v1.0", "1.0"},   // a non-string tag counts as missing
        {R"("tag":"v1","version":7)", "v1", "1"},       // a non-string version counts as missing
    };
    for (const auto& c : cases) {
        std::string text = "{" + c.members + R"(,"manifest":"/m","files_base":"/f"})";
        std::string error;
        auto index = parse_mirror_index(text, &error);
        ASSERT_TRUE(index) << text << ": " << error;
        EXPECT_EQ(index->tag, c.tag) << text;
        EXPECT_EQ(index->version, c.version) << text;
    }
}

TEST(MirrorIndex, ProblemsInTheirOrder) {
    struct Case {
        std::string text, error;
    } cases[] = {
        {"[]", "latest.json is not an object"},
        {R"("v1.2.3")", "latest.json is not an object"},
        {"5", "latest.json is not an object"},
        {"null", "latest.json is not an object"},
        {"{}", "latest.json has no tag"},
        {R"({"tag":5})", "latest.json has no tag"},
        {R"({"tag":null,"version":false,"manifest":"/m","files_base":"/f"})", "latest.json has no tag"},
        {R"({"manifest":"/m","files_base":"/f"})", "latest.json has no tag"},
        // The tag is reported before the missing manifest and files.
        {R"({"tag":"release-7"})", "latest.json tag is not a version: release-7"},
        {R"({"version":"release-7","manifest":"/m","files_base":"/f"})",
         "latest.json tag is not a version: vrelease-7"},
        {R"({"tag":"v1.2.3.4","manifest":"/m","files_base":"/f"})", "latest.json tag is not a version: v1.2.3.4"},
        {R"({"tag":"v1.2.3-","manifest":"/m","files_base":"/f"})", "latest.json tag is not a version: v1.2.3-"},
        {R"({"tag":"v1.2.3"})", "latest.json has no manifest"},
        {R"({"tag":"v1.2.3","manifest":"","files_base":"/f"})", "latest.json has no manifest"},
        {R"({"tag":"v1.2.3","manifest":["/m"],"files_base":"/f"})", "latest.json has no manifest"},
        {R"({"tag":"v1.2.3","manifest":"/m"})", "latest.json has no files_base"},
        {R"({"tag":"v1.2.3","manifest":"/m","files_base":""})", "latest.json has no files_base"},
        {R"({"tag":"v1.2.3","manifest":"/m","files_base":{}})", "latest.json has no files_base"},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.text), c.error) << c.text;
}

TEST(MirrorIndex, InvalidJsonGivesTheLibraryText) {
    const std::string cases[] = {
        "",
        "{",
        R"({"tag":"v1"} x)",                                                 // trailing content
        R"({"tag":"v1"} {})",                                                // a second value
        "// note\n{\"tag\":\"v1\",\"manifest\":\"/m\",\"files_base\":\"/f\"}",  // comments are not JSON
        "{\"tag\":\"v1\" /* c */,\"manifest\":\"/m\",\"files_base\":\"/f\"}",
        "{'tag':'v1'}",
        "{\"tag\":\"v1\",}",
        "\xef\xbb\xbf{}x",
        std::string("{\"tag\":\"\xff\"}"),  // not UTF-8
    };
    for (const auto& text : cases) {
        std::string expected = df::test::parse_error_text(text);
        ASSERT_FALSE(expected.empty()) << text;
        EXPECT_EQ(error_of(text), expected) << text;
    }
}

TEST(MirrorIndex, NoDestinationStillFails) {
    EXPECT_FALSE(parse_mirror_index("{"));
    EXPECT_FALSE(parse_mirror_index("[]"));
    EXPECT_TRUE(parse_mirror_index(R"({"tag":"1","manifest":"/m","files_base":"/f"})"));
}

TEST(StringField, OnlyStringsCount) {
    json doc = json::parse(R"({"s":"text","e":"","n":5,"f":1.5,"b":true,"z":null,"a":["x"],"o":{"x":"y"}})");
    EXPECT_EQ(string_field(doc, "s"), "text");
    for (const char* key : {"e", "n", "f", "b", "z", "a", "o", "missing"}) EXPECT_EQ(string_field(doc, key), "") << key;
    EXPECT_EQ(string_field(json::array({"s"}), "s"), "");
    EXPECT_EQ(string_field(json("s"), "s"), "");
}

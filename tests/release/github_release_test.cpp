#include "release/github_release.h"

#include "tests/release/json_errors.h"

#include <gtest/gtest.h>

using namespace df::setup;
using nlohmann::json;

namespace {

std::string error_of(const std::string& text) {
    std::string error = "untouched";
    EXPECT_FALSE(parse_github_release(text, &error)) << text;
    return error;
}

std::optional<GithubRelease> parse_ok(const std::string& text) {
    std::string error;
    auto r = parse_github_release(text, &error);
    EXPECT_TRUE(r) << text << ": " << error;
    return r;
}

}  // namespace

TEST(GithubRelease, TagAloneIsValid) {
    auto r = parse_ok(R"({"tag_name":"v1.0.0"})");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->tag_name, "v1.0.0");
    EXPECT_EQ(r->name, "");
    EXPECT_EQ(r->body, "");
    EXPECT_EQ(r->html_url, "");
    EXPECT_TRUE(r->assets.empty());
}

TEST(GithubRelease, TagIsNotCheckedAsAVersion) {
    auto r = parse_ok(R"({"tag_name":"nightly-2024","name":5,"body":null,"html_url":[]})");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->tag_name, "nightly-2024");
    EXPECT_EQ(r->name, "");  // non-string top-level members read as empty, never as errors
    EXPECT_EQ(r->body, "");
    EXPECT_EQ(r->html_url, "");
}

TEST(GithubRelease, TopLevelProblems) {
    struct Case {
        std::string text, error;
    } cases[] = {
        {"[]", "release is not an object"},
        {"\"v1\"", "release is not an object"},
        {"null", "release is not an object"},
        {"true", "release is not an object"},
        {"{}", "release has no tag_name"},
        {R"({"tag_name":""})", "release has no tag_name"},
        {R"({"tag_name":5})", "release has no tag_name"},
        {R"({"tag_name":["v1"]})", "release has no tag_name"},
        // The missing tag is reported before a broken asset is looked at.
        {R"({"assets":[{"name":5}]})", "release has no tag_name"},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.text), c.error) << c.text;
}

TEST(GithubRelease, AssetsOfOtherTypesGiveAnEmptyList) {
    for (const char* assets : {R"({})", R"("x")", "null", "5", R"([5, "x", {"name":""}, {}, [], null])"}) {
        auto r = parse_ok(std::string(R"({"tag_name":"v1","assets":)") + assets + "}");
        ASSERT_TRUE(r) << assets;
        EXPECT_TRUE(r->assets.empty()) << assets;
    }
}

TEST(GithubRelease, AssetMemberTypes) {
    auto r = parse_ok(R"({"tag_name":"v1","assets":[
        {"name":"a","browser_download_url":"https://x/a","size":10},
        {"name":"b","size":-5},
        {"name":"c","size":1.5},
        {"name":"d","size":"12"},
        {"name":"e","size":9223372036854775807},
        {"name":"f","size":9223372036854775808},
        {"name":"g","size":null},
        {"name":"h","size":true},
        {"name":"a","browser_download_url":"https://x/a2","size":0}
    ]})");
    ASSERT_TRUE(r);
    struct Expect {
        std::string name, url;
        std::uint64_t size;
    } expected[] = {
        {"a", "https://x/a", 10}, {"b", "", 0}, {"c", "", 0}, {"d", "", 0}, {"e", "", 9223372036854775807ULL},
        {"f", "", 0},  // beyond the signed range: read as signed it is negative, so 0
        {"g", "", 0}, {"h", "", 0}, {"a", "https://x/a2", 0},
    };
    ASSERT_EQ(r->assets.size(), std::size(expected));
    for (std::size_t i = 0; i < r->assets.size(); ++i) {
        EXPECT_EQ(r->assets[i].name, expected[i].name) << i;
        EXPECT_EQ(r->assets[i].url, expected[i].url) << i;
        EXPECT_EQ(r->assets[i].size, expected[i].size) << i;
    }
    // Two assets of the same name are both kept; a lookup finds the first.
    auto a = find_asset(*r, "a");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->url, "https://x/a");
}

TEST(GithubRelease, NonStringAssetNameOrUrlFailsTheDocument) {
    struct Case {
        std::string asset;
        json bad;  // the offending member value
    } cases[] = {
        {R"({"name":5})", json(5)},
        {R"({"name":null})", json(nullptr)},
        {R"({"name":"a","browser_download_url":5})", json(5)},
        {R"({"name":"a","browser_download_url":["u"]})", json::array({"u"})},
        {R"({"name":"","browser_download_url":false})", json(false)},  // checked before the empty name drops it
    };
    for (const auto& c : cases) {
        std::string text = R"({"tag_name":"v1","assets":[{"name":"ok"},)" + c.asset + "]}";
        EXPECT_EQ(error_of(text), df::test::type_error_text<std::string>(c.bad)) << text;
    }
}

TEST(GithubRelease, InvalidJsonAndComments) {
    for (const std::string text : {"", "{", R"({"tag_name":"v1"} [])", "{\"tag_name\":\"v1\"} // c",
                                   "/* c */ {\"tag_name\":\"v1\"}", "{\"tag_name\":\"v1\",\"assets\":[}"}) {
        std::string expected = df::test::parse_error_text(text);
        ASSERT_FALSE(expected.empty()) << text;
        EXPECT_EQ(error_of(text), expected) << text;
    }
}

TEST(GithubRelease, FindAssetIsExactAndCaseSensitive) {
    GithubRelease r;
    r.assets = {{"Manifest.json", "u1", 1}, {"manifest.json ", "u2", 2}, {"manifest.json", "u3", 3}};
    auto a = find_asset(r, "manifest.json");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->url, "u3");
    EXPECT_FALSE(find_asset(r, "manifest"));
    EXPECT_FALSE(find_asset(r, ""));
    EXPECT_FALSE(find_asset(std::vector<ReleaseAsset>{}, "manifest.json"));
}

// A document shaped like a real API answer: nested objects, many assets, long notes with escapes.
TEST(GithubRelease, RealisticDocument) {
    json assets = json::array();
    for (int i = 0; i < 60; ++i) {
        std::string name = "f__bin__part" + std::to_string(i) + ".dll";
        assets.push_back({
            {"url", "https://api.github.com/repos/Hollowmint/duskfern/releases/assets/" + std::to_string(1000 + i)},
            {"id", 1000 + i},
            {"node_id", "RA_kwDOAbc" + std::to_string(i)},
            {"name", name},
            {"label", i % 3 == 0 ? json(nullptr) : json("")},
            {"uploader", {{"login", "builder"}, {"id", 42}, {"type", "Bot"}, {"site_admin", false}}},
            {"content_type", "application/octet-stream"},
            {"state", "uploaded"},
            {"size", 1048576LL * i + 7},
            {"download_count", i * 13},
            {"created_at", "2024-05-01T10:00:00Z"},
            {"updated_at", "2024-05-01T10:00:01Z"},
            {"browser_download_url", "https://github.com/Hollowmint/duskfern/releases/download/v1.4.0/" + name},
        });
    }
    assets.push_back({{"name", "manifest.json"}, {"size", 9000},
                      {"browser_download_url", "https://github.com/Hollowmint/duskfern/releases/download/v1.4.0/manifest.json"}});
    std::string notes;
    for (int i = 0; i < 400; ++i) notes += "- fixed item " + std::to_string(i) + " \"quoted\" \\ \u00e9\u4e2d\t\r\n";
    json doc = {
        {"url", "https://api.github.com/repos/Hollowmint/duskfern/releases/1"},
        {"html_url", "https://github.com/Hollowmint/duskfern/releases/tag/v1.4.0"},
        {"id", 1},
        {"author", {{"login", "builder"}, {"id", 42}}},
        {"tag_name", "v1.4.0"},
        {"target_commitish", "main"},
        {"name", "duskfern 1.4.0"},
        {"draft", false},
        {"prerelease", false},
        {"created_at", "2024-05-01T09:00:00Z"},
        {"published_at", "2024-05-01T10:00:00Z"},
        {"assets", assets},
        {"tarball_url", "https://api.github.com/repos/Hollowmint/duskfern/tarball/v1.4.0"},
        {"zipball_url", "https://api.github.com/repos/Hollowmint/duskfern/zipball/v1.4.0"},
        {"body", notes},
        {"reactions", {{"total_count", 3}, {"+1", 3}}},
    };
    std::string text = doc.dump(2);
    ASSERT_GT(text.size(), 50000u);  // the size of a real answer
    auto r = parse_ok(text);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->tag_name, "v1.4.0");
    EXPECT_EQ(r->name, "duskfern 1.4.0");
    EXPECT_EQ(r->html_url, "https://github.com/Hollowmint/duskfern/releases/tag/v1.4.0");
    EXPECT_EQ(r->body, notes);
    ASSERT_EQ(r->assets.size(), 61u);
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(r->assets[i].name, "f__bin__part" + std::to_string(i) + ".dll");
        EXPECT_EQ(r->assets[i].size, 1048576ULL * i + 7);
        EXPECT_EQ(r->assets[i].url, "https://github.com/Hollowmint/duskfern/releases/download/v1.4.0/" + r->assets[i].name);
    }
    EXPECT_EQ(r->assets[60].name, "manifest.json");
}

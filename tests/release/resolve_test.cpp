// resolve_latest against the loopback release server: the mirror's latest.json and a GitHub
// release document served under the path a base override gives.
#include "release/resolve.h"
#include "tests/release/json_errors.h"
#include "tests/support/release_server.h"

#include <gtest/gtest.h>

using namespace df::setup;
using namespace df::test;
using nlohmann::json;

namespace {

const std::string D = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

class ResolveTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.available()) << "run under tools/release_server.py --run";
        server.clear_faults();
        server.clear_journal();
        // Each test has a folder of its own on the shared server, so no file of another test answers.
        prefix = std::string("/") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        config = make_source_config(server.http_base() + prefix + "/gh/", " " + server.http_base() + prefix + "/mirror/");
    }

    bool put(const std::string& path, const std::string& bytes) { return server.put_file(prefix.substr(1) + path, bytes); }
    std::string url(const std::string& path) const { return server.http_base() + prefix + path; }

    // resolve_latest that must fail; its error text.
    std::string failure(Source source, const std::atomic<bool>* cancel = nullptr) {
        std::string error = "untouched";
        auto r = resolve_latest(http, source, config, cancel, &error);
        EXPECT_FALSE(r) << "resolved " << (r ? r->tag : "");
        return error;
    }

    // The paths the server was asked for, in order.
    std::vector<std::string> asked() const {
        std::vector<std::string> paths;
        for (const auto& r : server.journal()) paths.push_back(r.path);
        return paths;
    }

    TestServer server;
    Http http;
    SourceConfig config;
    std::string prefix;
};

// A text of exactly size bytes: doc followed by spaces (still the same JSON document).
std::string padded(const std::string& doc, std::size_t size) { return doc + std::string(size - doc.size(), ' '); }

}  // namespace

TEST_F(ResolveTest, MirrorLatestJson) {
    ASSERT_TRUE(put("/mirror/latest.json", json({
        {"tag", "v1.4.0"}, {"published", "2024-05-01"}, {"notes_head", "Faster start."},
        {"manifest", "/v1.4.0/manifest.json"}, {"files_base", "/v1.4.0/files"}, {"setup", "/duskfern-setup.exe"},
    }).dump()));
    std::string error = "untouched";
    auto r = resolve_latest(http, Source::mirror, config, nullptr, &error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(error, "untouched");
    const std::string m = url("/mirror");
    EXPECT_EQ(r->source, Source::mirror);
    EXPECT_TRUE(r->patient);
    EXPECT_EQ(r->tag, "v1.4.0");
    EXPECT_EQ(r->name, "duskfern 1.4.0");
    EXPECT_EQ(r->notes, "Faster start.");
    EXPECT_EQ(r->manifest_url, m + "/v1.4.0/manifest.json");
    EXPECT_EQ(r->files_base, m + "/v1.4.0/files/");
    EXPECT_EQ(r->setup_url, m + "/duskfern-setup.exe");
    EXPECT_TRUE(r->assets.empty());
    // One plain GET of latest.json and nothing else.
    auto j = server.journal();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0].path, prefix + "/mirror/latest.json");
    EXPECT_EQ(j[0].range, std::nullopt);
    EXPECT_EQ(j[0].status, 200);
}

TEST_F(ResolveTest, MirrorIndexPointingOutsideTheMirror) {
    struct Case {
        std::string manifest, files_base;
    } cases[] = {
        {"http://127.0.0.2/manifest.json", "/f"},
        {"//127.0.0.2/manifest.json", "/f"},
        {"/m.json", "/a/../../b"},
        {"/m.json", "/"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(put("/mirror/latest.json",
                                    json({{"tag", "v1"}, {"manifest", c.manifest}, {"files_base", c.files_base}}).dump()));
        server.clear_journal();
        EXPECT_EQ(failure(Source::mirror), "latest.json points outside the mirror") << c.manifest << " " << c.files_base;
        EXPECT_EQ(asked(), std::vector<std::string>{prefix + "/mirror/latest.json"});  // nothing followed outside
    }
}

TEST_F(ResolveTest, MirrorBadDocuments) {
    struct Case {
        std::string body, error;
    } cases[] = {
        {R"({"manifest":"/m","files_base":"/f"})", "bad latest.json: latest.json has no tag"},
        {"[]", "bad latest.json: latest.json is not an object"},
        {R"({"tag":"nightly","manifest":"/m","files_base":"/f"})", "bad latest.json: latest.json tag is not a version: nightly"},
        {"", "bad latest.json: " + parse_error_text("")},
        {"{\"tag\":\"v1\", // c\n\"manifest\":\"/m\",\"files_base\":\"/f\"}",
         "bad latest.json: " + parse_error_text("{\"tag\":\"v1\", // c\n\"manifest\":\"/m\",\"files_base\":\"/f\"}")},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(put("/mirror/latest.json", c.body));
        EXPECT_EQ(failure(Source::mirror), c.error) << c.body;
    }
}

TEST_F(ResolveTest, MirrorBodyLimit) {
    const std::string doc = R"({"tag":"v2.0.0","manifest":"/m.json","files_base":"/f"})";
    ASSERT_TRUE(put("/mirror/latest.json", padded(doc, MIRROR_INDEX_MAX_BYTES)));
    std::string error;
    auto r = resolve_latest(http, Source::mirror, config, nullptr, &error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->tag, "v2.0.0");

    ASSERT_TRUE(put("/mirror/latest.json", padded(doc, MIRROR_INDEX_MAX_BYTES + 1)));
    EXPECT_EQ(failure(Source::mirror),
              "write failed or response too large (" + url("/mirror/latest.json") + ")");
}

TEST_F(ResolveTest, MirrorHttpFailuresPassTheMessageOn) {
    const std::string latest = url("/mirror/latest.json");
    EXPECT_EQ(failure(Source::mirror), "http 404 (" + latest + ")");  // no latest.json at all

    ASSERT_TRUE(put("/mirror/latest.json", R"({"tag":"v1","manifest":"/m","files_base":"/f"})"));
    server.set_faults(json({{prefix + "/mirror/latest.json", {{"status", 503}}}}).dump());
    EXPECT_EQ(failure(Source::mirror), "http 503 (" + latest + ")");

    server.clear_faults();
    std::atomic<bool> cancel{true};
    EXPECT_EQ(failure(Source::mirror, &cancel), "cancelled");
}

TEST_F(ResolveTest, GithubReleaseUnderTheBaseOverride) {
    json assets = json::array();
    for (int i = 0; i < 40; ++i) {
        std::string name = "f__bin__m" + std::to_string(i) + ".dll";
        assets.push_back({{"name", name}, {"size", 1000 + i}, {"content_type", "application/octet-stream"},
                          {"uploader", {{"login", "ci"}}}, {"browser_download_url", server.http_base() + "/cdn/" + name}});
    }
    assets.push_back({{"name", "manifest.json"}, {"size", 4000},
                      {"browser_download_url", server.http_base() + "/cdn/manifest.json"}});
    std::string notes;
    for (int i = 0; i < 300; ++i) notes += "* change " + std::to_string(i) + " \u00e9\u4e2d\r\n";
    json doc = {{"tag_name", "v1.4.0"}, {"name", "duskfern 1.4.0"}, {"body", notes}, {"draft", false},
                {"html_url", "https://github.com/Hollowmint/duskfern/releases/tag/v1.4.0"}, {"assets", assets}};
    ASSERT_TRUE(put("/gh/releases/latest", doc.dump()));

    std::string error;
    auto r = resolve_latest(http, Source::github, config, nullptr, &error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->source, Source::github);
    EXPECT_TRUE(r->patient);
    EXPECT_EQ(r->tag, "v1.4.0");
    EXPECT_EQ(r->name, "duskfern 1.4.0");
    EXPECT_EQ(r->notes, notes);
    EXPECT_EQ(r->html_url, "https://github.com/Hollowmint/duskfern/releases/tag/v1.4.0");
    EXPECT_EQ(r->files_base, url("/gh/download/v1.4.0/"));
    EXPECT_EQ(r->manifest_url, server.http_base() + "/cdn/manifest.json");
    ASSERT_EQ(r->assets.size(), 41u);
    EXPECT_EQ(asset_url(*r, "f__bin__m7.dll"), server.http_base() + "/cdn/f__bin__m7.dll");
    EXPECT_EQ(r->assets[7].size, 1007u);
    EXPECT_EQ(asked(), std::vector<std::string>{prefix + "/gh/releases/latest"});

    // Without a manifest asset the manifest is looked for beside the files.
    ASSERT_TRUE(put("/gh/releases/latest", R"({"tag_name":"v2"})"));
    r = resolve_latest(http, Source::github, config, nullptr, &error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->manifest_url, url("/gh/download/v2/manifest.json"));
}

TEST_F(ResolveTest, GithubBadDocuments) {
    struct Case {
        std::string body, error;
    } cases[] = {
        {R"({"name":"x"})", "bad release json: release has no tag_name"},
        {R"(["v1"])", "bad release json: release is not an object"},
        {R"({"tag_name":"v1","assets":[{"name":"a","browser_download_url":1}]})",
         "bad release json: " + type_error_text<std::string>(json(1))},
        {"{\"tag_name\":\"v1\"", "bad release json: " + parse_error_text("{\"tag_name\":\"v1\"")},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(put("/gh/releases/latest", c.body));
        EXPECT_EQ(failure(Source::github), c.error) << c.body;
    }
    // A web page where the API answer should be.
    server.set_faults(json({{prefix + "/gh/releases/latest", {{"html", true}}}}).dump());
    std::string error = failure(Source::github);
    EXPECT_EQ(error.rfind("bad release json: [json.exception.parse_error.", 0), 0u) << error;
}

TEST_F(ResolveTest, GithubBodyLimit) {
    const std::string doc = R"({"tag_name":"v3"})";
    ASSERT_TRUE(put("/gh/releases/latest", padded(doc, GITHUB_RELEASE_MAX_BYTES)));
    std::string error;
    auto r = resolve_latest(http, Source::github, config, nullptr, &error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->tag, "v3");

    ASSERT_TRUE(put("/gh/releases/latest", padded(doc, GITHUB_RELEASE_MAX_BYTES + 1)));
    EXPECT_EQ(failure(Source::github),
              "write failed or response too large (" + url("/gh/releases/latest") + ")");
}

TEST_F(ResolveTest, GithubNotFoundAndNoDestination) {
    EXPECT_EQ(failure(Source::github), "http 404 (" + url("/gh/releases/latest") + ")");
    // A caller without an error destination still gets nothing back.
    EXPECT_FALSE(resolve_latest(http, Source::github, config, nullptr, nullptr));
}

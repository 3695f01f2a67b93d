#include "release/signature.h"
#include "release/sources.h"

#include <gtest/gtest.h>

using namespace df::setup;

namespace {
const std::string O = "https://o.example";
const std::string DEFAULT_LATEST = "https://api.github.com/repos/Hollowmint/duskfern/releases/latest";
const std::string DEFAULT_DOWNLOAD = "https://github.com/Hollowmint/duskfern/releases/download";
}  // namespace

TEST(TrimUrl, Table) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"/", ""},
        {" / / ", ""},
        {"https://a/", "https://a"},
        {"https://a//", "https://a"},
        {"https://a/ ", "https://a"},
        {"https://a / /", "https://a"},
        {"  https://a", "https://a"},
        {" https://a/x/ ", "https://a/x"},
        {"\thttps://a\t", "\thttps://a\t"},  // only the space character counts
        {"https://a/\t", "https://a/\t"},
        {"/https://a", "/https://a"},          // leading slashes stay
        {"https://a\n/", "https://a\n"},
        {"a b/", "a b"},
    };
    for (const auto& c : cases) EXPECT_EQ(trim_url(c.in), c.out) << '"' << c.in << '"';
}

TEST(SourceConfig, Defaults) {
    auto c = make_source_config("", "", "");
    EXPECT_EQ(c.github_latest_url, DEFAULT_LATEST);
    EXPECT_EQ(c.github_download_base, DEFAULT_DOWNLOAD);
    EXPECT_EQ(c.mirror_base, MIRROR_ORIGIN);
    EXPECT_EQ(mirror_latest_url(c), std::string(MIRROR_ORIGIN) + "/latest.json");
    // The built-in origins are HTTPS and carry no path or trailing slash.
    for (std::string origin : {MIRROR_ORIGIN, GITHUB_API_ORIGIN, GITHUB_WEB_ORIGIN}) {
        EXPECT_EQ(origin.rfind("https://", 0), 0u) << origin;
        EXPECT_EQ(origin.find('/', 8), std::string::npos) << origin;
    }
    // The two-argument form uses the build's own mirror setting, empty by default.
    auto d = make_source_config("", "");
    EXPECT_EQ(d.mirror_base, MIRROR_ORIGIN);
}

TEST(SourceConfig, BaseOverride) {
    struct Case {
        std::string base, latest, download;
    } cases[] = {
        {O + "/x/ ", O + "/x/releases/latest", O + "/x/download"},
        {O, O + "/releases/latest", O + "/download"},
        {"  " + O + "//", O + "/releases/latest", O + "/download"},
        {"http://127.0.0.1:8080/gh", "http://127.0.0.1:8080/gh/releases/latest", "http://127.0.0.1:8080/gh/download"},
        {"/ /", DEFAULT_LATEST, DEFAULT_DOWNLOAD},  // trims to nothing: unset
        {" ", DEFAULT_LATEST, DEFAULT_DOWNLOAD},
    };
    for (const auto& c : cases) {
        auto config = make_source_config(c.base, "", "");
        EXPECT_EQ(config.github_latest_url, c.latest) << c.base;
        EXPECT_EQ(config.github_download_base, c.download) << c.base;
        EXPECT_EQ(config.mirror_base, MIRROR_ORIGIN) << c.base;  // the base never moves the mirror
    }
}

TEST(SourceConfig, MirrorOverrideAndBuildSetting) {
    struct Case {
        std::string mirror, build, base;
    } cases[] = {
        {" " + O + "//", "", O},
        {"http://plain.example", "", "http://plain.example"},  // an override is taken as it stands
        {"ftp://x", "", "ftp://x"},
        {"/ / /", "", MIRROR_ORIGIN},
        {"", "", MIRROR_ORIGIN},
        {"", "https://build.example/", "https://build.example"},
        {"", " HTTPS://Build.example", "HTTPS://Build.example"},
        {"", "hTtPs://b", "hTtPs://b"},        // 9 characters: long enough
        {"", "https://", MIRROR_ORIGIN},       // 8 characters: too short
        {"", "https:///", MIRROR_ORIGIN},      // trims to 8 characters
        {"", "http://build.example", MIRROR_ORIGIN},
        {"", "httpsx//build.example", MIRROR_ORIGIN},
        {O, "https://build.example", O},        // the override wins
    };
    for (const auto& c : cases) {
        auto config = make_source_config("", c.mirror, c.build);
        EXPECT_EQ(config.mirror_base, c.base) << '"' << c.mirror << "\" \"" << c.build << '"';
        EXPECT_EQ(config.github_latest_url, DEFAULT_LATEST);
    }
}

TEST(MirrorUrl, Table) {
    struct Case {
        std::string base, path;
        std::optional<std::string> url;
    } cases[] = {
        {O, "/v1/manifest.json", O + "/v1/manifest.json"},
        {O + "/", "/a", O + "/a"},
        {O + "/m/ ", "/a/b/", O + "/m/a/b/"},
        {O, "/a.b/c.d", O + "/a.b/c.d"},
        {O, "/.hidden/x", O + "/.hidden/x"},
        {O, "/a b", O + "/a b"},
        {O, "/\xe4\xb8\xad\xff", O + "/\xe4\xb8\xad\xff"},  // high bytes copied unchanged
        {O, "/~x!$&'()*+,;=", O + "/~x!$&'()*+,;="},
        {O, "/x", O + "/x"},
        {"", "/x", std::nullopt},
        {"/", "/x", std::nullopt},  // a base that trims to nothing is no mirror
        {O, "", std::nullopt},
        {O, "/", std::nullopt},
        {O, "x", std::nullopt},
        {O, "x/y", std::nullopt},
        {O, "//x", std::nullopt},
        {O, "//evil.example/x", std::nullopt},
        {O, "https://evil.example/x", std::nullopt},
        {O, "/a//b", std::nullopt},
        {O, "/a/", O + "/a/"},
        {O, "/..", std::nullopt},
        {O, "/a/../b", std::nullopt},
        {O, "/a..b", std::nullopt},  // any "..", not only a segment
        {O, "/%2e%2e/x", std::nullopt},
        {O, "/a%20b", std::nullopt},
        {O, "/a:b", std::nullopt},
        {O, "/a?b", std::nullopt},
        {O, "/a#b", std::nullopt},
        {O, "/@evil.example", std::nullopt},
        {O, "/a\\b", std::nullopt},
        {O, "\\\\evil/x", std::nullopt},
        {O, "/a\tb", std::nullopt},
        {O, "/a\x1f", std::nullopt},
        {O, "/a\x7f", std::nullopt},
        {O, "/a\r\nHost: x", std::nullopt},
        {O, std::string("/a\0b", 4), std::nullopt},
        {O, " /x", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mirror_url(c.base, c.path), c.url) << '"' << c.base << "\" + \"" << c.path << '"';
    }
}

TEST(ReleaseFromMirrorIndex, BuildsTheRecord) {
    MirrorIndex index{"v1.4.0", "1.4.0", "2024", "notes", "/v1/manifest.json", "/v1/files", "/setup.exe"};
    std::string error = "untouched";
    auto r = release_from_mirror_index(index, O + "/", &error);
    ASSERT_TRUE(r);
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(r->source, Source::mirror);
    EXPECT_TRUE(r->patient);
    EXPECT_EQ(r->tag, "v1.4.0");
    EXPECT_EQ(r->name, "duskfern 1.4.0");
    EXPECT_EQ(r->notes, "notes");
    EXPECT_EQ(r->html_url, "");
    EXPECT_TRUE(r->assets.empty());
    EXPECT_EQ(r->manifest_url, O + "/v1/manifest.json");
    EXPECT_EQ(r->files_base, O + "/v1/files/");
    EXPECT_EQ(r->setup_url, O + "/setup.exe");

    index.files_base = "/v1/files/";
    r = release_from_mirror_index(index, O);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->files_base, O + "/v1/files/");  // no second slash
}

TEST(ReleaseFromMirrorIndex, PathsOutsideTheMirror) {
    struct Case {
        std::string manifest, files_base;
    } cases[] = {
        {"https://evil.example/manifest.json", "/f"},
        {"//evil.example/manifest.json", "/f"},
        {"manifest.json", "/f"},
        {"/m.json", "/a/../b"},
        {"/m.json", "/a%2f"},
        {"/m.json", "/"},  // becomes "//"
        {"/m.json", "//"},
        {"/m.json", ""},   // becomes "/", too short
        {"/m.json", "files"},
        {"/m.json", "/a:b"},
    };
    for (const auto& c : cases) {
        MirrorIndex index{"v1", "1", "", "", c.manifest, c.files_base, "/setup.exe"};
        std::string error;
        EXPECT_FALSE(release_from_mirror_index(index, O, &error)) << c.manifest << " " << c.files_base;
        EXPECT_EQ(error, "latest.json points outside the mirror") << c.manifest << " " << c.files_base;
    }
}

TEST(ReleaseFromMirrorIndex, BadSetupPathIsDropped) {
    for (std::string setup : {"", "https://evil.example/s.exe", "//evil/s.exe", "/../s.exe", "/s.exe?x", "s.exe"}) {
        MirrorIndex index{"v1", "1", "", "", "/m.json", "/f", setup};
        auto r = release_from_mirror_index(index, O);
        ASSERT_TRUE(r) << setup;
        EXPECT_EQ(r->setup_url, "") << setup;
        EXPECT_EQ(r->manifest_url, O + "/m.json");
    }
}

TEST(ReleaseFromGithub, ManifestAssetAndFallbacks) {
    GithubRelease g{"v1.4.0", "duskfern 1.4.0", "body", "https://github.com/r", {}};
    g.assets = {{"manifest.json", "https://dl.example/m", 5}, {"a.exe", "https://dl.example/a", 7}};
    auto r = release_from_github(g, O + "/download/ ");
    EXPECT_EQ(r.source, Source::github);
    EXPECT_TRUE(r.patient);
    EXPECT_EQ(r.tag, "v1.4.0");
    EXPECT_EQ(r.name, "duskfern 1.4.0");
    EXPECT_EQ(r.notes, "body");
    EXPECT_EQ(r.html_url, "https://github.com/r");
    EXPECT_EQ(r.files_base, O + "/download/v1.4.0/");
    EXPECT_EQ(r.manifest_url, "https://dl.example/m");
    ASSERT_EQ(r.assets.size(), 2u);
    EXPECT_EQ(r.assets[1].name, "a.exe");
    EXPECT_EQ(r.setup_url, "");

    struct Case {
        std::vector<ReleaseAsset> assets;
    } fallbacks[] = {
        {{}},
        {{{"manifest.json", "", 5}}},                                     // listed with an empty URL
        {{{"Manifest.json", "https://dl.example/M", 5}}},                 // case matters
        {{{"manifest.json", "", 5}, {"manifest.json", "https://x", 5}}},  // the first one decides
    };
    for (const auto& c : fallbacks) {
        GithubRelease h{"v2", "", "", "", c.assets};
        EXPECT_EQ(release_from_github(h, O + "/d").manifest_url, O + "/d/v2/manifest.json");
    }
}

TEST(AlternateRelease, ConventionalLocations) {
    auto config = make_source_config(O + "/gh/", " " + O + "/mirror/", "");
    auto m = alternate_release(Source::mirror, "v1.4.0", config);
    EXPECT_EQ(m.source, Source::mirror);
    EXPECT_FALSE(m.patient);
    EXPECT_EQ(m.tag, "v1.4.0");
    EXPECT_EQ(m.files_base, O + "/mirror/v1.4.0/files/");
    EXPECT_EQ(m.manifest_url, O + "/mirror/v1.4.0/manifest.json");
    EXPECT_EQ(m.setup_url, O + "/mirror/duskfern-setup.exe");
    EXPECT_EQ(m.name, "");
    EXPECT_EQ(m.notes, "");
    EXPECT_EQ(m.html_url, "");
    EXPECT_TRUE(m.assets.empty());

    auto g = alternate_release(Source::github, "v1.4.0", config);
    EXPECT_EQ(g.source, Source::github);
    EXPECT_FALSE(g.patient);
    EXPECT_EQ(g.files_base, O + "/gh/download/v1.4.0/");
    EXPECT_EQ(g.manifest_url, O + "/gh/download/v1.4.0/manifest.json");
    EXPECT_EQ(g.setup_url, "");

    // The tag goes in as it is.
    auto odd = alternate_release(Source::mirror, "a b/../%", config);
    EXPECT_EQ(odd.manifest_url, O + "/mirror/a b/../%/manifest.json");
}

TEST(ReleaseInfo, DefaultRecord) {
    ReleaseInfo r;
    EXPECT_EQ(r.source, Source::github);
    EXPECT_FALSE(r.patient);
    EXPECT_TRUE(r.tag.empty() && r.manifest_url.empty() && r.files_base.empty() && r.assets.empty());
    EXPECT_STREQ(source_name(Source::mirror), "mirror");
    EXPECT_STREQ(source_name(Source::github), "github");
    EXPECT_STREQ(source_name(static_cast<Source>(7)), "github");
}

TEST(AssetLookup, OffersAndUrls) {
    ReleaseInfo gh;
    gh.source = Source::github;
    gh.files_base = O + "/d/v1/";
    EXPECT_TRUE(offers_asset(gh, "anything"));  // no assets: every name
    EXPECT_EQ(asset_url(gh, "a b%"), O + "/d/v1/a b%");

    gh.assets = {{"a.exe", "https://cdn.example/a", 1}, {"b.dll", "", 2}, {"a.exe", "https://cdn.example/a2", 1}};
    struct Case {
        std::string name;
        bool offered;
        std::string url;
    } cases[] = {
        {"a.exe", true, "https://cdn.example/a"},
        {"b.dll", true, O + "/d/v1/b.dll"},  // listed without a URL
        {"A.exe", false, O + "/d/v1/A.exe"},
        {"c.dll", false, O + "/d/v1/c.dll"},
        {"", false, O + "/d/v1/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(offers_asset(gh, c.name), c.offered) << c.name;
        EXPECT_EQ(asset_url(gh, c.name), c.url) << c.name;
    }
    auto found = find_asset(gh, "a.exe");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->url, "https://cdn.example/a");

    // A mirror record never consults assets.
    ReleaseInfo mirror = gh;
    mirror.source = Source::mirror;
    mirror.files_base = O + "/v1/files/";
    EXPECT_EQ(asset_url(mirror, "a.exe"), O + "/v1/files/a.exe");
}

TEST(Signature, TextAndUrls) {
    const std::string hex = std::string(64, 'a') + "0123456789abcdef" + std::string(48, 'f');
    struct Case {
        std::string text;
        bool ok;
    } cases[] = {
        {hex, true},          {hex + "\n", true},        {hex + "\r\n", true},
        {hex + "\n\n", false}, {hex + "\r", false},      {hex + " ", false},
        {" " + hex, false},   {hex.substr(1), false},    {hex + "0", false},
        {"A" + hex.substr(1), false},  // upper case
        {"g" + hex.substr(1), false},  {"", false},      {"\n", false},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_signature_text(c.text).has_value(), c.ok) << c.text;
    auto bytes = parse_signature_text(hex + "\n");
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 64u);
    EXPECT_EQ(static_cast<unsigned char>((*bytes)[32]), 0x01u);
    EXPECT_EQ(static_cast<unsigned char>((*bytes)[39]), 0xEFu);
    EXPECT_EQ(parse_public_key_text(hex), bytes);
    EXPECT_FALSE(parse_public_key_text(hex + "\n"));  // the built-in key has no line break

    // The signature named after the manifest's digest first, then the older name.
    const std::string D = "0123456789abcdef" + std::string(48, 'e');
    using Urls = std::vector<std::string>;
    EXPECT_EQ(digest_signature_name(D), "manifest.json.0123456789abcdef.sig");
    ReleaseInfo mirror;
    mirror.source = Source::mirror;
    mirror.manifest_url = O + "/v1/manifest.json";
    EXPECT_EQ(signature_urls(mirror, D), (Urls{O + "/v1/manifest.json.0123456789abcdef.sig", O + "/v1/manifest.json.sig"}));
    ReleaseInfo gh;
    gh.files_base = O + "/d/v1/";
    gh.manifest_url = "https://cdn.example/m";
    EXPECT_EQ(signature_urls(gh, D), (Urls{O + "/d/v1/manifest.json.0123456789abcdef.sig", O + "/d/v1/manifest.json.sig"}));
    gh.assets = {{"manifest.json.sig", "", 129}};  // listed without a URL; the digest-named one not offered
    EXPECT_EQ(signature_urls(gh, D), (Urls{O + "/d/v1/manifest.json.sig"}));
    gh.assets = {{"Manifest.json.sig", "https://cdn.example/other", 129}, {"manifest.json.sig", "https://cdn.example/s", 129},
                 {"manifest.json.0123456789abcdef.sig", "https://cdn.example/d", 129}};
    EXPECT_EQ(signature_urls(gh, D), (Urls{"https://cdn.example/d", "https://cdn.example/s"}));
}

#pragma once
// A small release published on the loopback server, on both sources at once: the mirror layout
// (latest.json, /TAG/manifest.json, /TAG/files/ASSET) and, under "/gh", the GitHub layout
// (/gh/releases/latest, /gh/download/TAG/manifest.json and /gh/download/TAG/ASSET).
#include "net/sha256.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace df::test {

struct ReleaseFile {
    std::string path;   // in the install folder, "/"-separated
    std::string bytes;
};

// The asset name for a path: the path itself when it has no folder part, else with "/" as "__".
inline std::string asset_name_for(const std::string& path) {
    std::string out;
    for (char c : path) out += c == '/' ? std::string("__") : std::string(1, c);
    return out;
}

// Publishes files as release tag (version = tag without its "v") on both sources.
inline void publish_release(TestServer& server, const std::string& tag, const std::vector<ReleaseFile>& files) {
    nlohmann::json manifest;
    manifest["version"] = tag.substr(1);
    manifest["files"] = nlohmann::json::array();
    for (const ReleaseFile& f : files) {
        std::string asset = asset_name_for(f.path);
        std::string mirror_rel = tag + "/files/" + asset;
        server.put_file(mirror_rel, f.bytes);
        server.put_file("gh/download/" + tag + "/" + asset, f.bytes);
        std::wstring local = server.root() + L"\\" + df::setup::from_utf8(tag) + L"\\files\\" + df::setup::from_utf8(asset);
        manifest["files"].push_back({{"path", f.path},
                                     {"size", f.bytes.size()},
                                     {"sha256", df::setup::sha256_file(local).value_or("")},
                                     {"asset", asset}});
    }
    server.put_file(tag + "/manifest.json", manifest.dump());
    server.put_file("gh/download/" + tag + "/manifest.json", manifest.dump());
    nlohmann::json latest{{"tag", tag}, {"manifest", "/" + tag + "/manifest.json"}, {"files_base", "/" + tag + "/files/"}};
    server.put_file("latest.json", latest.dump());
    nlohmann::json github{{"tag_name", tag}, {"name", "duskfern " + tag}, {"assets", nlohmann::json::array()}};
    server.put_file("gh/releases/latest", github.dump());
}

// The environment that points both sources of the setup at the server.
inline std::wstring server_sources(const TestServer& server) {
    std::wstring base = df::setup::from_utf8(server.http_base());
    return L"DUSKFERN_UPDATE_MIRROR=" + base + L"\nDUSKFERN_UPDATE_BASE=" + base + L"/gh";
}

// Only GitHub on the server; the mirror on a closed port.
inline std::wstring github_only_sources(const TestServer& server) {
    return L"DUSKFERN_UPDATE_MIRROR=http://127.0.0.1:9\nDUSKFERN_UPDATE_BASE=" +
           df::setup::from_utf8(server.http_base()) + L"/gh";
}

// The sample application (tests/ui/sample_overlay.cpp) as built.
inline std::string sample_app_bytes() { return read_file(build_file("tests/ui/duskfern-overlay.exe")); }

// Bytes that are not all alike, so that a wrong range shows in the digest.
inline std::string pattern_bytes(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 12345;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

}  // namespace df::test

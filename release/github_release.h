#pragma once
// The GitHub Releases API's description of one release: the members the setup reads. Portable.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace df::setup {

// One downloadable file of a GitHub release.
struct ReleaseAsset {
    std::string name;      // file name; never empty in a parsed release
    std::string url;       // browser_download_url; may be empty
    std::uint64_t size = 0;  // bytes; 0 when unknown
};

// The parsed release document; assets in document order.
struct GithubRelease {
    std::string tag_name;  // never empty after a successful parse
    std::string name;
    std::string body;
    std::string html_url;
    std::vector<ReleaseAsset> assets;
};

// Release document text to its record, or nothing with the reason in *error (when given). Never throws.
std::optional<GithubRelease> parse_github_release(std::string_view text, std::string* error = nullptr);

// The first asset whose name equals name byte for byte, or nothing.
std::optional<ReleaseAsset> find_asset(const std::vector<ReleaseAsset>& assets, std::string_view name);
// The first asset of the release named exactly name, or nothing.
std::optional<ReleaseAsset> find_asset(const GithubRelease& release, std::string_view name);

}  // namespace df::setup

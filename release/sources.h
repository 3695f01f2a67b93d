#pragma once
// The two release sources: their configuration and overrides, their URL rules, and the release
// record every later step works on. Portable.
#include "release/github_release.h"
#include "release/mirror_index.h"
#include "release/source.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace df::setup {

// Deployment origins (scheme and host, no path).
inline constexpr const char* MIRROR_ORIGIN = "https://dl.hollowmint.net";
inline constexpr const char* GITHUB_API_ORIGIN = "https://api.github.com";
inline constexpr const char* GITHUB_WEB_ORIGIN = "https://github.com";
inline constexpr const char* GITHUB_REPOSITORY_PATH = "/Hollowmint/duskfern";

// The mirror chosen at build time (the DF_BUILD_MIRROR cache option; empty: none); used only
// when it is an https:// URL.
extern const char* const BUILD_MIRROR;

// Time-out and body limits of the latest-release lookups.
inline constexpr int LATEST_TIMEOUT_MS = 8000;
inline constexpr std::uint64_t MIRROR_INDEX_MAX_BYTES = 1048576;
inline constexpr std::uint64_t GITHUB_RELEASE_MAX_BYTES = 8388608;

// The source URLs of one install run; read-only once built.
struct SourceConfig {
    std::string github_latest_url;
    std::string github_download_base;  // a file is at base + "/" + tag + "/" + asset name
    std::string mirror_base;           // never ends with "/" or a space
};

// One release on one source.
struct ReleaseInfo {
    Source source = Source::github;
    std::string tag;
    std::string name;
    std::string notes;
    std::string html_url;             // GitHub only
    std::vector<ReleaseAsset> assets;  // GitHub answers only, document order
    std::string manifest_url;
    std::string files_base;  // ends with "/": a file URL is files_base + asset name
    std::string setup_url;   // mirror only, may be empty
    bool patient = false;    // set on a resolved record, clear on an alternate one
};

// The text with trailing "/" and spaces removed, then leading spaces (only the space character counts).
std::string trim_url(std::string_view text);

// The configuration from DUSKFERN_UPDATE_BASE and DUSKFERN_UPDATE_MIRROR (empty when unset) and
// the build-time mirror.
SourceConfig make_source_config(std::string_view base_override, std::string_view mirror_override,
                                std::string_view build_mirror = BUILD_MIRROR);

// mirror_base + "/latest.json".
std::string mirror_latest_url(const SourceConfig& config);

// trim_url(base) + path when path is a plain root-relative path that cannot leave the mirror; else nothing.
std::optional<std::string> mirror_url(std::string_view base, std::string_view path);

// The mirror's resolved (patient) record, or nothing with "latest.json points outside the mirror" in *error.
std::optional<ReleaseInfo> release_from_mirror_index(const MirrorIndex& index, std::string_view mirror_base,
                                                     std::string* error = nullptr);

// GitHub's resolved (patient) record; the release's assets are moved into it. Never fails.
ReleaseInfo release_from_github(GithubRelease release, std::string_view github_download_base);

// The conventional (not patient) record of tag on source, built without the network. Never fails.
ReleaseInfo alternate_release(Source source, std::string_view tag, const SourceConfig& config);

// The first asset of the record named exactly name, or nothing.
std::optional<ReleaseAsset> find_asset(const ReleaseInfo& release, std::string_view name);

// True when the record lists no assets (offers every name) or lists one named exactly name.
bool offers_asset(const ReleaseInfo& release, std::string_view name);

// The listed URL of name on a GitHub record when it has one; otherwise files_base + name.
std::string asset_url(const ReleaseInfo& release, std::string_view name);

}  // namespace df::setup

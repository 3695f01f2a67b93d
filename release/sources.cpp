#include "release/sources.h"

#include "net/ascii.h"

// Set by the build (the DF_BUILD_MIRROR cache option) for this file only.
#ifndef DF_BUILD_MIRROR
#define DF_BUILD_MIRROR ""
#endif

namespace df::setup {

const char* const BUILD_MIRROR = DF_BUILD_MIRROR;

namespace {

std::string github_files_base(std::string_view download_base, std::string_view tag) {
    std::string base = trim_url(download_base);
    base += '/';
    base += tag;
    base += '/';
    return base;
}

}  // namespace

std::string trim_url(std::string_view text) {
    while (!text.empty() && (text.back() == '/' || text.back() == ' ')) text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return std::string(text);
}

SourceConfig make_source_config(std::string_view base_override, std::string_view mirror_override,
                                std::string_view build_mirror) {
    SourceConfig config;
    if (std::string b = trim_url(base_override); !b.empty()) {
        config.github_latest_url = b + "/releases/latest";
        config.github_download_base = b + "/download";
    } else {
        config.github_latest_url =
            std::string(GITHUB_API_ORIGIN) + "/repos" + GITHUB_REPOSITORY_PATH + "/releases/latest";
        config.github_download_base = std::string(GITHUB_WEB_ORIGIN) + GITHUB_REPOSITORY_PATH + "/releases/download";
    }

    if (std::string m = trim_url(mirror_override); !m.empty()) {
        config.mirror_base = m;  // an explicit override is taken as it is, whatever its scheme
    } else if (std::string built = trim_url(build_mirror); built.size() > 8 && starts_with_nocase(built, "https://")) {
        config.mirror_base = built;
    } else {
        config.mirror_base = MIRROR_ORIGIN;
    }
    return config;
}

std::string mirror_latest_url(const SourceConfig& config) { return config.mirror_base + "/latest.json"; }

std::optional<std::string> mirror_url(std::string_view base, std::string_view path) {
    // A base that trims to nothing would turn the path into a URL of its own.
    std::string trimmed = trim_url(base);
    if (trimmed.empty()) return std::nullopt;
    if (path.size() < 2 || path[0] != '/' || path[1] == '/') return std::nullopt;
    if (path.find("..") != std::string_view::npos || path.find("//") != std::string_view::npos) return std::nullopt;
    for (char ch : path) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return std::nullopt;
        switch (ch) {
            case '#': case '%': case ':': case '?': case '@': case '\\':
                return std::nullopt;
            default:
                break;
        }
    }
    return trimmed + std::string(path);
}

std::optional<ReleaseInfo> release_from_mirror_index(const MirrorIndex& index, std::string_view mirror_base,
                                                     std::string* error) {
    ReleaseInfo info;
    info.source = Source::mirror;
    info.patient = true;

    auto manifest = mirror_url(mirror_base, index.manifest);
    std::string files_path = index.files_base;
    if (files_path.empty() || files_path.back() != '/') files_path += '/';
    auto files = mirror_url(mirror_base, files_path);
    if (!manifest || !files) {
        if (error) *error = "latest.json points outside the mirror";
        return std::nullopt;
    }
    info.manifest_url = std::move(*manifest);
    info.files_base = std::move(*files);
    if (!index.setup.empty()) {
        // A setup path that breaks the rule is dropped; the release is still usable without it.
        if (auto setup = mirror_url(mirror_base, index.setup)) info.setup_url = std::move(*setup);
    }
    info.tag = index.tag;
    info.name = "duskfern " + index.version;
    info.notes = index.notes_head;
    return info;
}

ReleaseInfo release_from_github(GithubRelease release, std::string_view github_download_base) {
    ReleaseInfo info;
    info.source = Source::github;
    info.patient = true;
    info.files_base = github_files_base(github_download_base, release.tag_name);
    auto manifest = find_asset(release, "manifest.json");
    info.manifest_url = (manifest && !manifest->url.empty()) ? manifest->url : info.files_base + "manifest.json";
    info.tag = std::move(release.tag_name);
    info.name = std::move(release.name);
    info.notes = std::move(release.body);
    info.html_url = std::move(release.html_url);
    info.assets = std::move(release.assets);
    return info;
}

ReleaseInfo alternate_release(Source source, std::string_view tag, const SourceConfig& config) {
    ReleaseInfo info;
    info.source = source;
    info.tag = std::string(tag);
    if (source == Source::mirror) {
        std::string m = trim_url(config.mirror_base);
        info.files_base = m + "/" + info.tag + "/files/";
        info.setup_url = m + "/duskfern-setup.exe";
        info.manifest_url = m + "/" + info.tag + "/manifest.json";
    } else {
        info.files_base = github_files_base(config.github_download_base, tag);
        info.manifest_url = info.files_base + "manifest.json";
    }
    return info;
}

std::optional<ReleaseAsset> find_asset(const ReleaseInfo& release, std::string_view name) {
    return find_asset(release.assets, name);
}

bool offers_asset(const ReleaseInfo& release, std::string_view name) {
    return release.assets.empty() || find_asset(release, name).has_value();
}

std::string asset_url(const ReleaseInfo& release, std::string_view name) {
    if (release.source == Source::github) {
        if (auto asset = find_asset(release, name); asset && !asset->url.empty()) return asset->url;
    }
    return release.files_base + std::string(name);
}

}  // namespace df::setup

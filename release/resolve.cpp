#include "release/resolve.h"

#include "release/github_release.h"
#include "release/mirror_index.h"

namespace df::setup {
namespace {

std::optional<ReleaseInfo> fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return std::nullopt;
}

std::optional<ReleaseInfo> latest_from_mirror(Http& http, const SourceConfig& config,
                                              const std::atomic<bool>* cancel, std::string* error) {
    std::string body;
    NetError r = http.get_text(mirror_latest_url(config), body, cancel, LATEST_TIMEOUT_MS, MIRROR_INDEX_MAX_BYTES);
    if (!r.ok) return fail(error, r.message);
    std::string why;
    auto index = parse_mirror_index(body, &why);
    if (!index) return fail(error, "bad latest.json: " + why);
    auto release = release_from_mirror_index(*index, config.mirror_base, &why);
    if (!release) return fail(error, why);  // already says what is wrong, no prefix
    return release;
}

std::optional<ReleaseInfo> latest_from_github(Http& http, const SourceConfig& config,
                                              const std::atomic<bool>* cancel, std::string* error) {
    std::string body;
    NetError r = http.get_text(config.github_latest_url, body, cancel, LATEST_TIMEOUT_MS, GITHUB_RELEASE_MAX_BYTES);
    if (!r.ok) return fail(error, r.message);
    std::string why;
    auto release = parse_github_release(body, &why);
    if (!release) return fail(error, "bad release json: " + why);
    return release_from_github(std::move(*release), config.github_download_base);
}

}  // namespace

std::optional<ReleaseInfo> resolve_latest(Http& http, Source source, const SourceConfig& config,
                                          const std::atomic<bool>* cancel, std::string* error) {
    if (source == Source::mirror) return latest_from_mirror(http, config, cancel, error);
    return latest_from_github(http, config, cancel, error);
}

}  // namespace df::setup

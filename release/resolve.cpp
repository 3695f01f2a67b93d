#include "release/resolve.h"

#include "release/github_release.h"
#include "release/mirror_index.h"

namespace df::setup {

std::optional<ReleaseInfo> resolve_latest(Http& http, Source source, const SourceConfig& config,
                                          const std::atomic<bool>* cancel, std::string* error) {
    auto set = [&](std::string text) {
        if (error) *error = std::move(text);
    };
    std::string body;
    if (source == Source::mirror) {
        NetError r = http.get_text(mirror_latest_url(config), body, cancel, 8000, 1048576);
        if (!r.ok) return set(r.message), std::nullopt;
        std::string why;
        auto index = parse_mirror_index(body, &why);
        if (!index) return set("bad latest.json: " + why), std::nullopt;
        auto release = release_from_mirror_index(*index, config.mirror_base, &why);
        if (!release) return set(why), std::nullopt;
        return release;
    }
    NetError r = http.get_text(config.github_latest_url, body, cancel, 8000, 8388608);
    if (!r.ok) return set(r.message), std::nullopt;
    std::string why;
    auto doc = parse_github_release(body, &why);
    if (!doc) return set("bad release json: " + why), std::nullopt;
    return release_from_github(std::move(*doc), config.github_download_base);
}

}  // namespace df::setup

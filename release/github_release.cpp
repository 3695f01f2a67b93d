#include "release/github_release.h"

#include "release/mirror_index.h"

#include <nlohmann/json.hpp>

#include <limits>

namespace df::setup {
namespace {

std::optional<GithubRelease> fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return std::nullopt;
}

// An integer "size" as a byte count: negative values, floats and other types give 0.
std::uint64_t asset_size(const nlohmann::json& asset) {
    auto it = asset.find("size");
    if (it == asset.end()) return 0;
    if (it->is_number_unsigned()) {
        // Read as a signed 64-bit number: values beyond its range would be negative, so 0.
        auto v = it->get<std::uint64_t>();
        return v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ? 0 : v;
    }
    if (it->is_number_integer()) {
        auto v = it->get<std::int64_t>();
        return v < 0 ? 0 : static_cast<std::uint64_t>(v);
    }
    return 0;
}

}  // namespace

std::optional<GithubRelease> parse_github_release(std::string_view text, std::string* error) {
    try {
        const auto doc = nlohmann::json::parse(text, nullptr, true, false);
        if (!doc.is_object()) return fail(error, "release is not an object");

        GithubRelease release;
        release.tag_name = string_field(doc, "tag_name");
        release.name = string_field(doc, "name");
        release.body = string_field(doc, "body");
        release.html_url = string_field(doc, "html_url");
        if (release.tag_name.empty()) return fail(error, "release has no tag_name");

        auto assets = doc.find("assets");
        if (assets != doc.end() && assets->is_array()) {
            for (const auto& element : *assets) {
                if (!element.is_object()) continue;
                ReleaseAsset asset;
                // A present member of another type raises the library's type error: the document fails.
                asset.name = element.value("name", std::string());
                asset.url = element.value("browser_download_url", std::string());
                asset.size = asset_size(element);
                if (!asset.name.empty()) release.assets.push_back(std::move(asset));
            }
        }
        return release;
    } catch (const std::exception& e) {  // the library's parse and type errors, or memory
        return fail(error, e.what());
    }
}

std::optional<ReleaseAsset> find_asset(const std::vector<ReleaseAsset>& assets, std::string_view name) {
    for (const auto& a : assets) {
        if (a.name == name) return a;
    }
    return std::nullopt;
}

std::optional<ReleaseAsset> find_asset(const GithubRelease& release, std::string_view name) {
    return find_asset(release.assets, name);
}

}  // namespace df::setup

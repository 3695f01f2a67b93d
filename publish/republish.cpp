#include "publish/republish.h"

#include "publish/file_io.h"


namespace df::publish {
namespace fs = std::filesystem;

LiveRelease live_release(const std::vector<fs::path>& manifests) {
    LiveRelease live;
    for (const fs::path& p : manifests) {
        std::error_code ec;
        if (!fs::exists(p, ec)) continue;
        Result<std::string> text = read_text(p);
        live.manifests.push_back(text ? *text : std::string());  // unreadable: other than any new one
        if (live.manifests.size() == 1) {
            if (auto m = df::setup::parse_manifest(live.manifests.back())) live.files = std::move(m->files);
        }
    }
    return live;
}

std::string content_asset_name(const std::string& path, const std::string& sha256) {
    return sha256.substr(0, 16) + "-" + df::setup::default_asset_name(path);
}

std::string republished_asset_name(const std::string& path, const std::string& sha256, const LiveRelease& live,
                                   const std::function<bool(const std::string&)>& holds_other) {
    const std::string derived = df::setup::default_asset_name(path);
    bool derived_taken = false;
    for (const df::setup::ManifestFile& f : live.files) {
        if (f.path == path && f.sha256 == sha256 && !f.asset.empty()) return f.asset;
        derived_taken = derived_taken || (f.asset == derived && f.sha256 != sha256);
    }
    return derived_taken || holds_other(derived) ? content_asset_name(path, sha256) : derived;
}

}  // namespace df::publish

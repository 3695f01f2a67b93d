#pragma once
// A second run of a published tag: what the earlier run left in the trees, and the asset names
// that keep every manifest a server holds true to the bytes it names. Portable.
#include "release/manifest.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace df::publish {

// A tag as an earlier run left it.
struct LiveRelease {
    std::vector<std::string> manifests;          // the manifest.json text of each tree holding one
    std::vector<df::setup::ManifestFile> files;  // listed by the first of them; empty when unreadable
};

// The release whose manifest.json files (the mirror's first) exist; none exist for a new tag.
LiveRelease live_release(const std::vector<std::filesystem::path>& manifests);

// The content name of a file: the first 16 hex digits of its SHA-256, "-", its derived name.
std::string content_asset_name(const std::string& path, const std::string& sha256);

// The asset name of the file path with sha256 over live: live's name when it lists path with
// these bytes; the derived name unless live lists that name with other bytes or holds_other says
// a tree holds other bytes under it; otherwise content_asset_name.
std::string republished_asset_name(const std::string& path, const std::string& sha256, const LiveRelease& live,
                                   const std::function<bool(const std::string&)>& holds_other);

}  // namespace df::publish

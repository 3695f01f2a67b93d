#include "job/plan.h"

#include "folder/folder_rules.h"
#include "release/version.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace df::setup {
namespace {

char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string folded(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lower_ascii);
    return out;
}

// Windows drops trailing dots and spaces from every path segment when it opens a file.
std::string windows_form(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find('/', start);
        std::string_view seg = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        while (!seg.empty() && (seg.back() == '.' || seg.back() == ' ')) seg.remove_suffix(1);
        out.append(seg);
        if (end == std::string_view::npos) break;
        out.push_back('/');
        start = end + 1;
    }
    return out;
}

}  // namespace

bool is_preserved_path(std::string_view path) {
    std::string p = folded(windows_form(path));
    for (const char* folder : {"data", "logs", "webview", "update-staging", "update-backup"}) {
        std::string prefix = std::string(folder) + "/";
        if (p.rfind(prefix, 0) == 0) return true;
    }
    return p == "data" || p == "update-result.json" || p == "update.log";
}

bool is_plannable_path(std::string_view path) {
    if (!is_safe_relative_path(std::string(path))) return false;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find('/', start);
        std::string_view seg = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (seg.back() == '.' || seg.back() == ' ') return false;  // segments are never empty here
        std::wstring wide(seg.begin(), seg.end());  // reserved names are ASCII; other bytes never match
        if (is_reserved_device_name(wide)) return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

Plan build_plan(const Manifest& manifest) {
    Plan plan;
    for (const ManifestFile& f : manifest.files) {
        if (!is_plannable_path(f.path) || is_preserved_path(f.path)) continue;
        plan.files.push_back(f);
        plan.bytes_total += f.size;
    }
    return plan;
}

std::optional<std::string> conflicting_path(const Plan& plan) {
    std::unordered_set<std::string> seen;  // folded paths of the earlier entries
    for (const ManifestFile& f : plan.files) {
        std::string key = folded(f.path);
        bool clash = seen.count(key) > 0 || seen.count(key + ".part") > 0;
        // An entry that is an earlier one's part file: one download would delete the other.
        if (key.size() > 5 && key.compare(key.size() - 5, 5, ".part") == 0) {
            clash = clash || seen.count(key.substr(0, key.size() - 5)) > 0;
        }
        if (clash) return f.path;
        seen.insert(std::move(key));
    }
    return std::nullopt;
}

std::vector<PathConflict> path_conflicts(const std::vector<std::string>& paths) {
    std::unordered_map<std::string, std::string> first;  // the key conflicting_path uses -> first path
    std::vector<PathConflict> out;
    for (const std::string& path : paths) {
        std::string key = folded(path);
        if (auto same = first.find(key); same != first.end()) {
            out.push_back({same->second, path, false});
            continue;
        }
        auto part_of = key.size() > 5 && key.ends_with(".part") ? first.find(key.substr(0, key.size() - 5)) : first.end();
        if (part_of == first.end()) part_of = first.find(key + ".part");
        if (part_of != first.end()) out.push_back({part_of->second, path, true});
        first.emplace(std::move(key), path);
    }
    return out;
}

bool manifest_accepted(const std::string& manifest_version, const std::string& tag) {
    if (manifest_version.empty()) return true;
    if (!parse_version(manifest_version) || !parse_version(tag)) return manifest_version == version_from_tag(tag);
    return compare_versions(manifest_version, tag) == 0;
}

std::string relative_address(const ManifestFile& file) {
    return file.asset.empty() ? default_asset_name(file.path) : file.asset;
}

void demote(std::vector<ReleaseInfo>& candidates, Source source) {
    auto it = std::find_if(candidates.begin(), candidates.end(), [&](const ReleaseInfo& r) { return r.source == source; });
    if (it == candidates.end()) return;
    std::rotate(it, it + 1, candidates.end());
}

}  // namespace df::setup

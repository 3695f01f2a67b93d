#include "job/plan.h"

#include "folder/folder_rules.h"
#include "job/upcase_table.h"
#include "net/part_files.h"
#include "release/utf8.h"
#include "release/version.h"

#include <algorithm>
#include <unordered_map>

namespace df::setup {
namespace {

// The upper case of a BMP code point through the file system's table.
std::uint32_t upcase_unit(std::uint32_t c) {
    const UpcaseRange* end = UPCASE_RANGES + UPCASE_RANGE_COUNT;
    const UpcaseRange* r = std::upper_bound(UPCASE_RANGES, end, c,
                                            [](std::uint32_t v, const UpcaseRange& range) { return v < range.first; });
    if (r == UPCASE_RANGES) return c;
    --r;
    if (c > r->last || (c - r->first) % r->stride != 0) return c;
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(c) + r->delta);
}

// The part file suffixes as windows_name_key gives them.
std::vector<std::string> part_keys() {
    std::vector<std::string> keys;
    for (std::string_view suffix : PART_SUFFIXES) keys.push_back(windows_name_key(suffix));
    return keys;
}

// Windows drops trailing dots and spaces from every path segment when it opens a file.
std::string windows_form(std::string_view path) {
    std::string out;
    bool first = true;
    for (std::string seg : split_on(path, '/')) {
        while (!seg.empty() && (seg.back() == '.' || seg.back() == ' ')) seg.pop_back();
        if (!first) out.push_back('/');
        first = false;
        out += seg;
    }
    return out;
}

}  // namespace

std::string windows_name_key(std::string_view utf8_path) {
    std::string out;
    out.reserve(utf8_path.size());
    for (std::string_view rest = utf8_path; !rest.empty();) {
        // Only one- to three-byte characters lie in the BMP; a four-byte character (outside it,
        // never folded) and a byte that starts no valid character pass unchanged.
        std::size_t n = utf8_sequence(rest);
        if (n == 0 || n == 4) {
            std::size_t keep = n == 0 ? 1 : n;
            out.append(rest.substr(0, keep));
            rest.remove_prefix(keep);
            continue;
        }
        append_utf8(out, upcase_unit(utf8_code_point(rest, n)));
        rest.remove_prefix(n);
    }
    return out;
}

bool is_preserved_path(std::string_view path) {
    std::string p = windows_name_key(windows_form(path));
    for (const char* folder : {"DATA", "LOGS", "WEBVIEW", "UPDATE-STAGING", "UPDATE-BACKUP"}) {
        std::string prefix = std::string(folder) + "/";
        if (p.rfind(prefix, 0) == 0) return true;
    }
    return p == "DATA" || p == "UPDATE-RESULT.JSON" || p == "UPDATE.LOG";
}

PathProblem path_problem(std::string_view path) {
    if (!is_safe_relative_path(path)) return PathProblem::unsafe;
    for (const std::string& seg : split_on(path, '/')) {  // never empty here
        if (seg.back() == '.' || seg.back() == ' ') return PathProblem::trailing_dot_or_space;
        std::wstring wide(seg.begin(), seg.end());  // reserved names are ASCII; other bytes never match
        if (is_reserved_device_name(wide)) return PathProblem::reserved_name;
    }
    return is_preserved_path(path) ? PathProblem::preserved : PathProblem::none;
}

Plan build_plan(const Manifest& manifest) {
    Plan plan;
    for (const ManifestFile& f : manifest.files) {
        if (path_problem(f.path) != PathProblem::none) continue;
        plan.files.push_back(f);
        plan.bytes_total += f.size;
    }
    return plan;
}

std::optional<std::string> conflicting_path(const Plan& plan) {
    std::vector<std::string> paths;
    paths.reserve(plan.files.size());
    for (const ManifestFile& f : plan.files) paths.push_back(f.path);
    std::vector<PathConflict> clashes = path_conflicts(paths);
    if (clashes.empty()) return std::nullopt;
    return clashes.front().later;
}

std::vector<PathConflict> path_conflicts(const std::vector<std::string>& paths) {
    static const std::vector<std::string> suffixes = part_keys();
    std::unordered_map<std::string, std::string> first;  // windows_name_key -> the first path with it
    std::vector<PathConflict> out;
    for (const std::string& path : paths) {
        std::string key = windows_name_key(path);
        if (auto same = first.find(key); same != first.end()) {
            out.push_back({same->second, path, ConflictKind::same_file});
            continue;
        }
        // One of the two is one of the other's part files: one delivery would delete the other.
        for (const std::string& suffix : suffixes) {
            auto part_of = key.size() > suffix.size() && key.ends_with(suffix)
                               ? first.find(key.substr(0, key.size() - suffix.size()))
                               : first.end();
            if (part_of != first.end()) {
                out.push_back({part_of->second, path, ConflictKind::part_file_of_earlier});
                break;
            }
            if (auto part = first.find(key + suffix); part != first.end()) {
                out.push_back({part->second, path, ConflictKind::earlier_is_part_file});
                break;
            }
        }
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

#pragma once
// The download plan and the rules the job applies to a manifest. Portable.
#include "release/manifest.h"
#include "release/sources.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace df::setup {

struct Plan {
    std::vector<ManifestFile> files;  // manifest order
    std::uint64_t bytes_total = 0;
};

// The text under which Windows finds a file of this UTF-8 path: every BMP character upper-cased
// as NTFS compares names (simple mappings); other characters and invalid bytes unchanged.
std::string windows_name_key(std::string_view utf8_path);

// True for the application's own data, logs and update places, which setup never writes.
// Segments are compared as Windows opens them: trailing dots and spaces dropped, case folded
// by windows_name_key.
bool is_preserved_path(std::string_view path);

// Why the plan leaves a manifest path out: unsafe (is_safe_relative_path refuses it; unsafe_path
// says why), a segment that ends in a dot or a space (Windows drops them), a segment that is a
// reserved device name, or a preserved path (is_preserved_path).
enum class PathProblem { none, unsafe, trailing_dot_or_space, reserved_name, preserved };

// The first of those rules that path breaks, in that order (segment by segment for the two
// segment rules), or none: a path the plan keeps.
PathProblem path_problem(std::string_view path);

// The plan: entries whose path_problem is none, in manifest order, and their sizes.
Plan build_plan(const Manifest& manifest);

// The second of two plan paths that name the same file on Windows (case folded by
// windows_name_key), or that is one of another's part files (a path equal to another + one of
// PART_SUFFIXES);
// nothing when all are distinct.
std::optional<std::string> conflicting_path(const Plan& plan);

// How two plan paths clash: later names the same file as earlier, later is one of earlier's part
// files (earlier + a part suffix), or earlier is one of later's.
enum class ConflictKind { same_file, part_file_of_earlier, earlier_is_part_file };

// Two paths that conflicting_path judges to clash, and how.
struct PathConflict {
    std::string earlier, later;
    ConflictKind kind = ConflictKind::same_file;
};

// Every clash among paths under conflicting_path's rule, in list order: each clashing path once,
// with the first earlier path it clashes with.
std::vector<PathConflict> path_conflicts(const std::vector<std::string>& paths);

// Whether a manifest of manifest_version belongs to a release with tag: an empty version always;
// versions compare equal; a text that is no version only when it equals version_from_tag(tag).
bool manifest_accepted(const std::string& manifest_version, const std::string& tag);

// The name a plan entry is published under: its asset, or the derived name of its path.
std::string relative_address(const ManifestFile& file);

// Moves the first record of source to the end of the list, keeping the others' order.
void demote(std::vector<ReleaseInfo>& candidates, Source source);

}  // namespace df::setup

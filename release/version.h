#pragma once
// Version texts of release tags and manifests: parsing and ordering. Portable, pure functions.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace df::setup {

// A parsed version: core numbers (each below 10^9) and the pre-release text after the first "-".
struct Version {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;
    std::string prerelease;  // empty for a release
};

// The pieces of text cut at every sep, in order; empty pieces are kept ("" gives one empty piece).
std::vector<std::string> split_on(std::string_view text, char sep);

// [v|V]N[.N[.N]][-pre][+build] with surrounding white space allowed, or nothing.
std::optional<Version> parse_version(std::string_view text);

// -1, 0 or 1 for a < b, a == b, a > b; a non-version sorts below every version, two compare equal.
int compare_versions(std::string_view a, std::string_view b);

// -1, 0 or 1 for two pre-release texts; the empty text (a release) is the greatest.
int compare_prerelease(std::string_view a, std::string_view b);

// The tag without its leading "v"/"V" when a digit follows it; otherwise the tag unchanged.
std::string version_from_tag(std::string_view tag);

}  // namespace df::setup

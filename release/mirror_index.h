#pragma once
// latest.json, the mirror's announcement of its current release. Portable.
#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace df::setup {

// The members of latest.json, all as read (setup and notes_head may be empty).
struct MirrorIndex {
    std::string tag;  // never empty, always a version after a successful parse
    std::string version;
    std::string published;
    std::string notes_head;
    std::string manifest;    // never empty; root-relative path on the mirror (checked later)
    std::string files_base;  // never empty; root-relative path on the mirror (checked later)
    std::string setup;
};

// The member key of object when it is a JSON string; "" when missing, of another type, or object is no object.
std::string string_field(const nlohmann::json& object, const char* key);

// latest.json text to its index, or nothing with the reason in *error (when given). Never throws.
std::optional<MirrorIndex> parse_mirror_index(std::string_view text, std::string* error = nullptr);

}  // namespace df::setup

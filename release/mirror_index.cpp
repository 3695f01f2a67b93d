#include "release/mirror_index.h"

#include "release/version.h"

#include <nlohmann/json.hpp>

namespace df::setup {
namespace {

std::optional<MirrorIndex> fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return std::nullopt;
}

}  // namespace

std::string string_field(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return {};
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return {};
    return it->get<std::string>();
}

std::optional<MirrorIndex> parse_mirror_index(std::string_view text, std::string* error) {
    try {
        const auto doc = nlohmann::json::parse(text, nullptr, true, false);
        if (!doc.is_object()) return fail(error, "latest.json is not an object");

        MirrorIndex index;
        index.tag = string_field(doc, "tag");
        index.version = string_field(doc, "version");
        index.published = string_field(doc, "published");
        index.notes_head = string_field(doc, "notes_head");
        index.manifest = string_field(doc, "manifest");
        index.files_base = string_field(doc, "files_base");
        index.setup = string_field(doc, "setup");

        if (index.tag.empty() && !index.version.empty()) {
            char first = index.version.front();
            index.tag = (first == 'v' || first == 'V') ? index.version : "v" + index.version;
        }
        if (index.version.empty()) index.version = version_from_tag(index.tag);

        if (index.tag.empty()) return fail(error, "latest.json has no tag");
        if (!parse_version(index.tag)) return fail(error, "latest.json tag is not a version: " + index.tag);
        if (index.manifest.empty()) return fail(error, "latest.json has no manifest");
        if (index.files_base.empty()) return fail(error, "latest.json has no files_base");
        return index;
    } catch (const std::exception& e) {  // the library's parse and type errors, or memory
        return fail(error, e.what());
    }
}

}  // namespace df::setup

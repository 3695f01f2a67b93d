#include "release/manifest.h"

#include "net/ascii.h"
#include "release/version.h"

#include <nlohmann/json.hpp>

namespace df::setup {
namespace {

template <typename T>
std::optional<T> fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return std::nullopt;
}

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Exactly 64 lower-case hex digits.
bool is_hex_digest(std::string_view s) {
    bool ok = s.size() == 64;
    for (char c : s) ok = ok && is_hex_digit(c);
    return ok;
}

// A non-negative JSON integer as a byte count; any other number (negative, fractional, out of range) is 0.
std::uint64_t non_negative_integer(const nlohmann::json& v) {
    if (v.is_number_unsigned()) return v.get<std::uint64_t>();
    if (v.is_number_integer()) {
        auto n = v.get<std::int64_t>();
        return n < 0 ? 0 : static_cast<std::uint64_t>(n);
    }
    return 0;
}

// Why an entry's "packed" member (an object) cannot be used for a file of file_size bytes, or
// nullptr; reads it into out.
const char* packed_problem(const nlohmann::json& value, std::uint64_t file_size, ManifestPacked& out) {
    if (!value.is_object()) return "not an object";
    auto asset = value.find("asset");
    if (asset == value.end() || !asset->is_string() || !is_plain_asset_name(asset->get_ref<const std::string&>())) {
        return "asset name";
    }
    out.asset = asset->get<std::string>();
    auto size = value.find("size");
    if (size == value.end() || !size->is_number_integer() || non_negative_integer(*size) == 0) return "size";
    out.size = non_negative_integer(*size);
    auto sha256 = value.find("sha256");
    if (sha256 == value.end() || !sha256->is_string()) return "sha256";
    out.sha256 = sha256->get<std::string>();
    out.sha256 = ascii_lowered(out.sha256);
    if (!is_hex_digest(out.sha256)) return "sha256";
    // The inflated bytes are bounded by the file's size: a file of no stated size has no bound.
    if (file_size == 0) return "the file has no size";
    return nullptr;
}

std::optional<ManifestFile> read_file_entry(const nlohmann::json& value, std::string* error) {
    if (!value.is_object()) return fail<ManifestFile>(error, "file entry is not an object");
    ManifestFile file;
    file.path = value.value("path", std::string());
    file.sha256 = value.value("sha256", std::string());
    file.sha256 = ascii_lowered(file.sha256);
    if (auto size = value.find("size"); size != value.end()) file.size = non_negative_integer(*size);

    if (!is_safe_relative_path(file.path)) return fail<ManifestFile>(error, "unsafe path in manifest: " + file.path);
    if (!is_hex_digest(file.sha256)) return fail<ManifestFile>(error, "bad sha256 for " + file.path);

    auto asset = value.find("asset");
    if (asset != value.end() && asset->is_string()) {
        file.asset = asset->get<std::string>();
    } else if (asset != value.end() && asset->is_null()) {
        file.asset.clear();
    } else {
        file.asset = default_asset_name(file.path);
    }
    // Older setups ignore the member and fetch the raw asset; a malformed one refuses the entry.
    if (auto packed = value.find("packed"); packed != value.end() && !packed->is_null()) {
        ManifestPacked p;
        if (const char* problem = packed_problem(*packed, file.size, p)) {
            return fail<ManifestFile>(error, "bad packed member for " + file.path + ": " + problem);
        }
        file.packed = std::move(p);
    }
    return file;
}

}  // namespace

std::optional<ManifestFile> parse_manifest_file(const nlohmann::json& value, std::string* error) {
    try {
        return read_file_entry(value, error);
    } catch (const std::exception& e) {  // the library's type errors, or memory
        return fail<ManifestFile>(error, e.what());
    }
}

std::optional<Manifest> parse_manifest(std::string_view text, std::string* error) {
    try {
        const auto doc = nlohmann::json::parse(text, nullptr, true, false);
        auto files = doc.is_object() ? doc.find("files") : doc.end();
        if (!doc.is_object() || files == doc.end() || !files->is_array()) {
            return fail<Manifest>(error, "manifest has no files array");
        }

        Manifest manifest;
        manifest.version = doc.value("version", std::string());
        manifest.files.reserve(files->size());
        for (const auto& element : *files) {
            auto file = read_file_entry(element, error);
            if (!file) return std::nullopt;
            manifest.files.push_back(std::move(*file));
        }

        if (auto zip = doc.find("zip"); zip != doc.end() && zip->is_object()) {
            manifest.zip.name = zip->value("name", std::string());
            if (auto size = zip->find("size"); size != zip->end()) {
                // Any number is accepted and only a non-negative integer keeps its value (a float
                // converted to an unsigned integer would be undefined when out of range). Every other
                // type, booleans included, is the library's type error for a number.
                if (!size->is_number()) {
                    throw nlohmann::json::type_error::create(
                        302, std::string("type must be number, but is ") + size->type_name(), &*size);
                }
                manifest.zip.size = non_negative_integer(*size);
            }
            manifest.zip.sha256 = zip->value("sha256", std::string());
            manifest.zip.sha256 = ascii_lowered(manifest.zip.sha256);
        }
        return manifest;
    } catch (const std::exception& e) {  // the library's parse and type errors, or memory
        return fail<Manifest>(error, e.what());
    }
}

UnsafePath unsafe_path(std::string_view path) {
    if (path.empty() || path.size() > MAX_RELATIVE_PATH_BYTES) return UnsafePath::length;
    for (char ch : path) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20) return UnsafePath::character;
        switch (ch) {
            case '\\': case ':': case '"': case '*': case '<': case '>': case '?': case '|':
                return UnsafePath::character;
            default:
                break;
        }
    }
    for (const std::string& segment : split_on(path, '/')) {
        if (segment.empty() || segment == "." || segment == "..") return UnsafePath::segment;
    }
    return UnsafePath::none;
}

bool is_safe_relative_path(std::string_view path) { return unsafe_path(path) == UnsafePath::none; }

bool is_plain_asset_name(std::string_view name) {
    if (name.empty() || name.size() > MAX_ASSET_NAME_BYTES) return false;
    bool only_dots = true;
    for (char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '_' || c == '-';
        if (!plain) return false;
        only_dots = only_dots && c == '.';
    }
    return !only_dots;
}

std::string default_asset_name(std::string_view path) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string name = "f__";
    name.reserve(3 + path.size() * 3);
    for (char ch : path) {
        auto c = static_cast<unsigned char>(ch);
        if (ch == '/' || ch == '\\') {
            name += "__";
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || ch == '-' || ch == '.') {
            name += ch;
        } else {
            name += '_';
            name += HEX[c >> 4];
            name += HEX[c & 0x0F];
        }
    }
    return name;
}

}  // namespace df::setup

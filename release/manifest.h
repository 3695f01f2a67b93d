#pragma once
// manifest.json, the list of a release's files, and the rules for its paths and asset names. Portable.
#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace df::setup {

// The largest manifest body the install job fetches.
inline constexpr std::uint64_t MANIFEST_MAX_BYTES = 8388608;
// The longest relative path (in bytes) a manifest may name.
inline constexpr std::size_t MAX_RELATIVE_PATH_BYTES = 1024;
// The longest asset name: the longest file name the file systems and servers of both sources take.
inline constexpr std::size_t MAX_ASSET_NAME_BYTES = 255;

// The packed copy of a file: a gzip stream (one member) of its bytes, published beside the raw
// asset under a name of its own.
struct ManifestPacked {
    std::string asset;       // satisfies is_plain_asset_name
    std::uint64_t size = 0;  // bytes of the packed copy, at least 1
    std::string sha256;      // of the packed copy: exactly 64 characters 0-9 a-f
};

// One file of a release.
struct ManifestFile {
    std::string path;  // satisfies is_safe_relative_path, "/" as separator
    std::uint64_t size = 0;
    std::string sha256;  // exactly 64 characters 0-9 a-f
    std::string asset;   // publication name; empty when not published as a GitHub asset
    std::optional<ManifestPacked> packed;  // none: only the raw bytes are published
};

// The optional single archive of a release; read, not validated, not used by the install.
struct ManifestZip {
    std::string name;
    std::uint64_t size = 0;
    std::string sha256;  // lower-cased as read
};

struct Manifest {
    std::string version;  // empty: fits any tag
    std::vector<ManifestFile> files;
    ManifestZip zip;
};

// manifest.json text to its record, or nothing with the reason in *error (when given). Never throws.
std::optional<Manifest> parse_manifest(std::string_view text, std::string* error = nullptr);

// One element of "files" to an entry, or nothing with the reason in *error (when given). Never throws.
std::optional<ManifestFile> parse_manifest_file(const nlohmann::json& value, std::string* error = nullptr);

// Why a path is not a relative path that stays inside the install folder with a valid Windows
// name: its length (empty or over MAX_RELATIVE_PATH_BYTES), a character (\ : " * < > | ? or a
// byte below 0x20), or a segment (empty, "." or "..", so also a leading "/").
enum class UnsafePath { none, length, character, segment };

// The first of those rules (in that order) that path breaks, or none.
UnsafePath unsafe_path(std::string_view path);

// Whether unsafe_path finds nothing.
bool is_safe_relative_path(std::string_view path);

// Whether name can be a packed copy's asset: 1 to MAX_ASSET_NAME_BYTES bytes of A-Z a-z 0-9 . _ -,
// not only dots (so it names one file below a URL and a folder, and nothing else).
bool is_plain_asset_name(std::string_view name);

// "f__" + path with "/" and "\" as "__", [A-Za-z0-9.-] kept and every other byte as "_" + two hex digits.
std::string default_asset_name(std::string_view path);

}  // namespace df::setup

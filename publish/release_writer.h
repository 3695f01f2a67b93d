#pragma once
// Writing a release for both sources: the files under their asset names, manifest.json and the
// mirror's latest.json. Portable (std::filesystem); SHA-256 through net/sha256.h.
#include "net/ecdsa.h"
#include "publish/build_folder.h"
#include "publish/result.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace df::publish {

// The longest asset name: the longest file name the file systems of both trees (and the servers) take.
inline constexpr std::size_t MAX_ASSET_NAME_BYTES = 255;

// One file as the manifest lists it.
struct PublishedFile {
    std::string path;
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hex
    std::string asset;
};

// Where a release goes: the mirror tree (latest.json and TAG/ in it) and the folder of the
// GitHub release's files.
struct Trees {
    std::filesystem::path mirror;
    std::filesystem::path github;
};

// What a run wrote, or why it wrote nothing.
struct Written {
    std::vector<Refusal> refusals;  // when not empty, nothing was written (what a run wrote was removed)
    std::vector<PublishedFile> files;
    std::uint64_t bytes = 0;
    std::string manifest;  // the manifest.json text published
    bool changed = true;   // false: the tag was published with these files already, and stays as it was
};

// How a run may treat a tag that is already published, and who watches it.
struct WriteOptions {
    const df::setup::EcPrivateKey* key = nullptr;  // signs the manifest when given
    bool replace = false;  // a tag published with other files is replaced, not refused
    // Called with each path a server of the trees would see change (renamed into place or
    // removed), right after the change; for tests.
    std::function<void(const std::filesystem::path&)> observer;
    // Whether the documents are read back (read_back) before they go live; off only for tests
    // that craft releases the setup refuses.
    bool prove = true;
};

// The documents' text: two-space indent, members in the order written, a final line break.
std::string document_text(const nlohmann::ordered_json& doc);

// manifest.json for version and files, in the order given.
std::string manifest_text(const std::string& version, const std::vector<PublishedFile>& files);

// latest.json of the mirror: tag, version, the publication time and the paths of TAG's
// manifest and files below the mirror's base.
std::string latest_text(const std::string& tag, const std::string& version, const std::string& published);

// The text of manifest.json.sig for manifest under key: 128 lower-case hex characters of r||s
// (checked_signature) and a line break.
Result<std::string> signature_file_text(const df::setup::EcPrivateKey& key, std::string_view manifest);

// seconds since 1970 in UTC as "YYYY-MM-DDThh:mm:ssZ".
std::string utc_text(std::int64_t seconds);

// Publishes files (in the order given, no checks) as tag in both trees: every file under its
// asset name in mirror/TAG/files/ and in github/, manifest.json in mirror/TAG/ and github/ (and
// with a key manifest.json.sig beside both), then mirror/latest.json. Each file goes through a
// temporary name beside it; the documents are read back (read_back) before any goes live, and a
// run that fails or is refused removes its temporaries (and the folders it made before anything
// went live).
//
// A tag published already: the same files change nothing (a valid signature of the same key and
// latest.json with its publication time are kept); other files are refused unless
// options.replace. A replacement never changes the bytes under a name that a served manifest
// lists: a file whose bytes changed gets the content name of republished_asset_name, the new
// files go live first, then each tree's manifest and signature, then latest.json; afterwards
// the files that neither the new nor the replaced manifest lists are removed.
Result<Written> write_release(const std::vector<SourceFile>& files, const std::string& tag, const std::string& version,
                              const std::string& published, const Trees& trees, const WriteOptions& options = {});

}  // namespace df::publish

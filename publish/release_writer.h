#pragma once
// Writing a release for both sources: the files under their asset names, manifest.json and the
// mirror's latest.json. Portable (std::filesystem); SHA-256 through net/sha256.h.
#include "net/ecdsa.h"
#include "publish/build_folder.h"
#include "publish/result.h"
#include "release/manifest.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace df::publish {

// One file as the manifest lists it.
struct PublishedFile {
    std::string path;
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hex
    std::string asset;
    std::optional<df::setup::ManifestPacked> packed;  // its packed copy, when it has one
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
    std::uint64_t packed_bytes = 0;  // of the files that have a packed copy: the raw bytes
    std::uint64_t packed_size = 0;   // and the packed ones
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
    // Whether the release is proved before it goes live: its asset names (check_asset_names) and
    // its documents and packed copies read back (read_back); off only for tests that craft
    // releases the tool or the setup refuses.
    bool prove = true;
    // Whether files get packed copies (packed.h) where they pay.
    bool packed = true;
};

// The documents' text: two-space indent, members in the order written, a final line break.
std::string document_text(const nlohmann::ordered_json& doc);

// manifest.json for version and files, in the order given; "packed" follows "asset" in an entry
// with a packed copy.
std::string manifest_text(const std::string& version, const std::vector<PublishedFile>& files);

// latest.json of the mirror: tag, version, the publication time and the paths of TAG's
// manifest and files below the mirror's base.
std::string latest_text(const std::string& tag, const std::string& version, const std::string& published);

// The text of manifest.json.sig for manifest under key: 128 lower-case hex characters of r||s
// (checked_signature) and a line break.
Result<std::string> signature_file_text(const df::setup::EcPrivateKey& key, std::string_view manifest);

// seconds since 1970 in UTC as "YYYY-MM-DDThh:mm:ssZ".
std::string utc_text(std::int64_t seconds);

// Publishes files (in the order given) as tag in both trees: every file under its asset name in
// mirror/TAG/files/ and in github/, with options.packed its packed copy beside it where that pays
// (under the asset name + PACKED_SUFFIX), manifest.json in mirror/TAG/ and github/ (and with a key
// its signature beside both, under digest_signature_name and SIGNATURE_FILE_NAME), then
// mirror/latest.json. Each file goes through a temporary name beside it; the documents and packed
// copies are read back (read_back) before any goes live, and a run that fails or is refused
// removes its temporaries (and the folders it made before anything went live). Refused (when
// proving): asset names that check_asset_names refuses.
//
// A tag published already: the same files change nothing (a valid signature of the same key and
// latest.json with its publication time are kept); other files are refused unless
// options.replace. A file is judged published already by the SHA-256 of what a tree holds. A
// replacement never changes the bytes under a name that a served manifest lists: a file whose
// bytes changed gets the content name of republished_asset_name (and its packed copy that name
// + PACKED_SUFFIX); a packed copy that a served manifest lists for the same file is kept, one
// whose name it lists for other bytes leaves the file unpacked. The new files go live first,
// then in each tree the digest-named signature, the manifest and manifest.json.sig, then
// latest.json; afterwards the files that neither the new nor the replaced manifest lists are
// removed.
Result<Written> write_release(const std::vector<SourceFile>& files, const std::string& tag, const std::string& version,
                              const std::string& published, const Trees& trees, const WriteOptions& options = {});

}  // namespace df::publish

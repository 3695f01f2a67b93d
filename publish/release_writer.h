#pragma once
// Writing a release for both sources: the files under their asset names, manifest.json and the
// mirror's latest.json. Portable (std::filesystem); SHA-256 through net/sha256.h.
#include "net/ecdsa.h"
#include "publish/build_folder.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
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
};

// Where a release goes: the mirror tree (latest.json and TAG/ in it) and the folder of the
// GitHub release's files.
struct Trees {
    std::filesystem::path mirror;
    std::filesystem::path github;
};

struct WriteResult {
    bool ok = false;
    std::string error;  // when not ok: what could not be read or written
    std::vector<PublishedFile> files;
    std::uint64_t bytes = 0;
    std::string manifest;  // the manifest.json text written
};

// The documents' text: two-space indent, members in the order written, a final line break.
std::string document_text(const nlohmann::ordered_json& doc);

// manifest.json for version and files, in the order given.
std::string manifest_text(const std::string& version, const std::vector<PublishedFile>& files);

// latest.json of the mirror: tag, version, the publication time and the paths of TAG's
// manifest and files below the mirror's base.
std::string latest_text(const std::string& tag, const std::string& version, const std::string& published);

// The text of manifest.json.sig for manifest under key (128 lower-case hex characters of r||s and
// a line break), checked against the key's public part; nothing when signing failed.
std::optional<std::string> signature_file_text(const df::setup::EcPrivateKey& key, std::string_view manifest);

// seconds since 1970 in UTC as "YYYY-MM-DDThh:mm:ssZ".
std::string utc_text(std::int64_t seconds);

// Writes files (in the order given, no checks) into both trees: every file under its derived
// asset name in mirror/TAG/files/ and in github/ (read once, digest and size of the bytes
// written), then manifest.json into mirror/TAG/ and github/ (and, with a key, manifest.json.sig
// beside both), then mirror/latest.json; each file through a temporary name in its folder and a
// rename. Afterwards removes whatever else mirror/TAG/ and github/ hold (an earlier run's files,
// leftover temporaries).
WriteResult write_release(const std::vector<SourceFile>& files, const std::string& tag, const std::string& version,
                          const std::string& published, const Trees& trees,
                          const df::setup::EcPrivateKey* key = nullptr);

}  // namespace df::publish

#pragma once
// The proof of a written release: its documents read back from disk through the setup's own
// readers and URL rules, before they go live. Portable.
#include "publish/build_folder.h"
#include "publish/release_writer.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace df::publish {

// A written file that belongs to another: a signature to a manifest, a packed copy to a file.
struct WrittenFile {
    std::string name;  // as published, for refusals
    std::size_t of;    // the index of the manifest, or of the file in files
    std::filesystem::path path;
};

// The documents of one release as written (each the file the setup will fetch).
struct WrittenDocuments {
    std::filesystem::path latest;                  // latest.json of the mirror
    std::vector<std::filesystem::path> manifests;  // manifest.json of each tree
    std::vector<WrittenFile> signatures;           // each signature file of each tree (none unsigned)
    std::vector<WrittenFile> packed;               // each packed copy in each tree
};

// Refusals of what the setup would refuse: each document larger than the setup fetches,
// latest.json through parse_mirror_index and
// release_from_mirror_index (the mirror_url rule) on the built-in mirror, whose manifest and files
// must be TAG's conventional ones; each manifest through parse_manifest, manifest_accepted and the
// plan's rules, listing exactly files (packed members included); each signature through
// parse_signature_text and the public key xy (when given); each packed copy through
// packed_copy_problem (the setup's inflater, bounded by its file's size). Each refusal names the
// document ("latest.json: ...").
std::vector<Refusal> read_back(const WrittenDocuments& documents, const std::string& tag,
                               const std::vector<PublishedFile>& files, const std::optional<std::string>& xy);

}  // namespace df::publish

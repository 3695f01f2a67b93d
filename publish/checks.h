#pragma once
// What the release tool refuses to publish, judged by the setup's own rules. Portable.
#include "publish/build_folder.h"
#include "publish/release_writer.h"

#include <string>
#include <vector>

namespace df::publish {

// Refusals of the tag and the version: a tag that is no version or cannot name a folder and a
// URL, a version the setup would not accept for the tag.
std::vector<Refusal> check_tag(const std::string& tag, const std::string& version);

// Refusals of the build folder: what reading it refused, a path the setup would not install
// (unsafe, not writable on Windows, preserved), paths that name the same file on Windows or one
// the other's part file, asset names that are the same with letter case ignored, sorted by
// path (check_asset_names on the names that files get on a first publication); then no
// duskfern-overlay.exe at the top, and a manifest larger than the setup fetches. The version is
// one that check_tag accepted.
std::vector<Refusal> check_files(const BuildFolder& build, const std::string& version);

// Refusals of the asset names of files as the release publishes them, each file's and its packed
// copy's, beside the documents' names: a name longer than MAX_ASSET_NAME_BYTES, and a name equal
// to an earlier one with letter case ignored (servers and GitHub may not tell them apart).
std::vector<Refusal> check_asset_names(const std::vector<PublishedFile>& files);

}  // namespace df::publish

#pragma once
// What the release tool refuses to publish, judged by the setup's own rules. Portable.
#include "publish/build_folder.h"

#include <string>
#include <vector>

namespace df::publish {

// Refusals of the tag and the version: a tag that is no version or cannot name a folder and a
// URL, a version the setup would not accept for the tag.
std::vector<Refusal> check_tag(const std::string& tag, const std::string& version);

// Refusals of the build folder: what reading it refused, a path the setup would not install
// (unsafe, not writable on Windows, preserved), paths that name the same file on Windows or one
// the other's part file, asset names that are the same with letter case ignored, sorted by
// path; then no duskfern-overlay.exe at the top, and a manifest larger than the setup fetches.
std::vector<Refusal> check_files(const BuildFolder& build, const std::string& version);

}  // namespace df::publish

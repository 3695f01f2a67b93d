#pragma once
// Publishes a release the way both sources lay it out, for tests, the demo and benches:
//   mirror:  latest.json, <tag>/manifest.json, <tag>/files/<name>
//   GitHub:  gh/releases/latest (the release document), gh/download/<tag>/<name> and manifest.json
// so the mirror base is the server's base URL and the GitHub base override is base URL + "/gh".
#include <optional>
#include <string>
#include <vector>

namespace df::tools {

struct ReleaseFile {
    std::string path;                  // relative install path with "/"
    std::string content;               // the bytes (ignored when source_file is set)
    std::wstring source_file;          // copy this file instead of writing content
    std::optional<std::string> asset;  // none: "asset" left out of the manifest (derived name)
    bool on_mirror = true;             // published under the mirror's files folder
    bool on_github = true;             // published as a GitHub asset (needs a non-empty name)
};

struct ReleaseSpec {
    std::string tag = "v1.4.0";
    std::optional<std::string> manifest_version;  // none: the tag without its "v"
    std::vector<ReleaseFile> files;
    bool mirror = true;  // write latest.json and the mirror files
    bool github = true;  // write the release document and the GitHub assets
};

// Writes the release under root (a Windows path) with GitHub asset URLs under base_url;
// false when a file could not be written.
bool publish_release(const std::wstring& root, const std::string& base_url, const ReleaseSpec& release);

// The files of a folder (recursively, sorted by path) as release files taken from disk.
std::vector<ReleaseFile> files_of_folder(const std::wstring& folder);

}  // namespace df::tools

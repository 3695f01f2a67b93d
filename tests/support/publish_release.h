#pragma once
// Releases for the Windows tests, written by the release tool's own writing code (in process,
// without its refusals, so a test can publish what the tool would refuse) and laid out under
// the loopback server's root as both sources serve them:
//   mirror:  latest.json, <tag>/manifest.json, <tag>/files/<name>
//   GitHub:  gh/releases/latest (a stand-in API document), gh/download/<tag>/<name> and manifest.json
// so the mirror base is the server's base URL and the GitHub base override is base URL + "/gh".
#include <optional>
#include <string>
#include <vector>

namespace df::test {

struct ReleaseFile {
    std::string path;                  // relative install path with "/"
    std::string content;               // the bytes (ignored when source_file is set)
    std::wstring source_file;          // publish this file instead of content
    std::optional<std::string> asset;  // none: the derived name; else this name in the manifest
                                       // and on both sources ("": not a GitHub asset)
    bool on_mirror = true;             // left under the mirror's files folder (false: its packed copy neither)
    bool on_github = true;             // left among the GitHub assets (false: its packed copy neither)
};

struct ReleaseSpec {
    std::string tag = "v1.4.0";
    std::optional<std::string> manifest_version;  // none: the tool's default for the tag
    std::vector<ReleaseFile> files;
    bool mirror = true;  // keep latest.json and the mirror tree
    bool github = true;  // keep the GitHub files and write the release document
    std::wstring key_file;  // when set: the manifest's signature files on both sources, made with this key
    bool packed = false;    // files get packed copies where they pay, as the tool's default does
};

// Publishes the release under root (a Windows path) with GitHub asset URLs under base_url;
// false when something could not be written.
bool publish_release(const std::wstring& root, const std::string& base_url, const ReleaseSpec& release);

// Writes root/gh/releases/latest, the stand-in GitHub document of release tag: one asset for
// each file in root/gh/download/<tag>/ (sorted by name), its URL below base_url.
bool write_github_document(const std::wstring& root, const std::string& base_url, const std::string& tag);

}  // namespace df::test

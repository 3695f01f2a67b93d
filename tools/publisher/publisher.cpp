#include "tools/publisher/publisher.h"

#include "app/files.h"
#include "app/handle.h"
#include "app/log.h"
#include "net/sha256.h"
#include "release/manifest.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace df::tools {
using namespace df::setup;
using nlohmann::json;

namespace {

std::wstring under(const std::wstring& root, const std::string& relative) {
    std::wstring out = from_utf8(relative);
    for (auto& c : out) {
        if (c == L'/') c = L'\\';
    }
    return join_path(root, out);
}

bool write_bytes(const std::wstring& path, const std::string& bytes) {
    std::size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos) create_folders(path.substr(0, slash));
    UniqueFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!f) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 26));
        DWORD wrote = 0;
        if (!::WriteFile(f.get(), bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
        done += wrote;
    }
    return true;
}

bool place(const ReleaseFile& file, const std::wstring& dest) {
    if (file.source_file.empty()) return write_bytes(dest, file.content);
    std::size_t slash = dest.find_last_of(L'\\');
    if (slash != std::wstring::npos) create_folders(dest.substr(0, slash));
    return ::CopyFileW(file.source_file.c_str(), dest.c_str(), FALSE) != 0;
}

}  // namespace

bool publish_release(const std::wstring& root, const std::string& base_url, const ReleaseSpec& release) {
    const std::string& tag = release.tag;
    const std::string version =
        release.manifest_version ? *release.manifest_version : (tag.size() > 1 && (tag[0] == 'v' || tag[0] == 'V') ? tag.substr(1) : tag);
    json files = json::array();
    json assets = json::array();
    for (const ReleaseFile& f : release.files) {
        std::string name = f.asset && !f.asset->empty() ? *f.asset : default_asset_name(f.path);
        // The mirror copy doubles as the place the digest is taken from; it is removed again
        // when the file is not meant to be on the mirror.
        std::wstring mirror_copy = under(root, tag + "/files/" + name);
        if (!place(f, mirror_copy)) return false;
        std::uint64_t size = 0;
        auto digest = sha256_file(mirror_copy, &size);
        if (!digest) return false;
        json entry = {{"path", f.path}, {"size", size}, {"sha256", *digest}};
        if (f.asset) entry["asset"] = *f.asset;
        files.push_back(entry);
        bool github_asset = release.github && f.on_github && !(f.asset && f.asset->empty());
        if (github_asset) {
            create_folders(under(root, "gh/download/" + tag));
            if (!::CopyFileW(mirror_copy.c_str(), under(root, "gh/download/" + tag + "/" + name).c_str(), FALSE)) {
                return false;
            }
            assets.push_back({{"name", name},
                              {"browser_download_url", base_url + "/gh/download/" + tag + "/" + name},
                              {"size", size}});
        }
        if (!release.mirror || !f.on_mirror) ::DeleteFileW(mirror_copy.c_str());
    }
    const std::string manifest = json{{"version", version}, {"files", files}}.dump(1);
    if (release.mirror) {
        json index = {{"tag", tag},
                      {"version", version},
                      {"published", "2026-12-01T10:00:00Z"},
                      {"notes_head", "Test release " + tag},
                      {"manifest", "/" + tag + "/manifest.json"},
                      {"files_base", "/" + tag + "/files/"},
                      {"setup", "/duskfern-setup.exe"}};
        if (!write_bytes(under(root, "latest.json"), index.dump(1))) return false;
        if (!write_bytes(under(root, tag + "/manifest.json"), manifest)) return false;
    }
    if (release.github) {
        if (!write_bytes(under(root, "gh/download/" + tag + "/manifest.json"), manifest)) return false;
        assets.push_back({{"name", "manifest.json"},
                          {"browser_download_url", base_url + "/gh/download/" + tag + "/manifest.json"},
                          {"size", manifest.size()}});
        json doc = {{"tag_name", tag},
                    {"name", "duskfern " + version},
                    {"body", "Release notes of " + tag},
                    {"html_url", base_url + "/gh/releases/tag/" + tag},
                    {"assets", assets}};
        if (!write_bytes(under(root, "gh/releases/latest"), doc.dump(1))) return false;
    }
    return true;
}

std::vector<ReleaseFile> files_of_folder(const std::wstring& folder) {
    std::vector<ReleaseFile> out;
    std::vector<std::pair<std::wstring, std::string>> pending = {{folder, ""}};
    while (!pending.empty()) {
        auto [dir, prefix] = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW d;
        UniqueFind find(::FindFirstFileW(join_path(dir, L"*").c_str(), &d));
        if (!find) continue;
        do {
            std::wstring name = d.cFileName;
            if (name == L"." || name == L"..") continue;
            std::string rel = prefix + to_utf8(name);
            if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                pending.push_back({join_path(dir, name), rel + "/"});
            } else {
                ReleaseFile f;
                f.path = rel;
                f.source_file = join_path(dir, name);
                out.push_back(std::move(f));
            }
        } while (::FindNextFileW(find.get(), &d));
    }
    std::sort(out.begin(), out.end(), [](const ReleaseFile& a, const ReleaseFile& b) { return a.path < b.path; });
    return out;
}

}  // namespace df::tools

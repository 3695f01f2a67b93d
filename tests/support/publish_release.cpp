#include "tests/support/publish_release.h"

#include "app/files.h"
#include "app/handle.h"
#include "app/log.h"
#include "publish/key_file.h"
#include "net/sha256.h"
#include "publish/release_writer.h"
#include "release/signature.h"
#include "release/version.h"
#include "tests/support/test_support.h"

#include <algorithm>

namespace df::test {
using namespace df::setup;
using nlohmann::ordered_json;

namespace {

// The file names in folder, sorted.
std::vector<std::wstring> names_in(const std::wstring& folder) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW d;
    UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &d));
    if (!find) return out;
    do {
        if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(d.cFileName);
    } while (::FindNextFileW(find.get(), &d));
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

bool publish_release(const std::wstring& root, const std::string& base_url, const ReleaseSpec& release) {
    const std::string& tag = release.tag;
    const std::string version = release.manifest_version.value_or(version_from_tag(tag));
    // Contents given as bytes get files of their own: their paths may be ones Windows cannot
    // hold (update.log.) or two that name one file (BIN/Core.DLL).
    const std::wstring stage = scratch_folder("publish-" + tag);
    std::vector<df::publish::SourceFile> sources;
    for (std::size_t i = 0; i < release.files.size(); ++i) {
        const ReleaseFile& f = release.files[i];
        std::wstring source = f.source_file;
        if (source.empty()) {
            source = stage + L"\\" + std::to_wstring(i);
            if (!write_file(source, f.content)) return false;
        }
        sources.push_back({f.path, source});
    }
    std::optional<EcPrivateKey> key;
    if (!release.key_file.empty()) {
        auto read = df::publish::read_key_file(release.key_file);
        if (!read) return false;
        key = *read;
    }
    const std::wstring tag_folder = root + L"\\" + from_utf8(tag);
    const std::wstring github = root + L"\\gh\\download\\" + from_utf8(tag);
    // A fresh publication each time, unproven: the tests' releases may hold what the setup refuses.
    if (!remove_tree(tag_folder) || !remove_tree(github)) return false;
    df::publish::WriteOptions options{key ? &*key : nullptr, false, {}, false, release.packed};
    auto written = df::publish::write_release(sources, tag, version, "2026-12-01T10:00:00Z", {root, github}, options);
    if (!written || !written->refusals.empty()) return false;

    // The test's own asset names and the files missing on one source, as edits of the output.
    ordered_json manifest = ordered_json::parse(written->manifest);
    bool edited = false;
    for (std::size_t i = 0; i < release.files.size(); ++i) {
        const ReleaseFile& f = release.files[i];
        std::wstring name = from_utf8(written->files[i].asset);
        const std::wstring mirror_file = tag_folder + L"\\files\\";
        if (f.asset) {
            manifest["files"][i]["asset"] = *f.asset;
            edited = true;
            if (!f.asset->empty() && from_utf8(*f.asset) != name) {
                std::wstring given = from_utf8(*f.asset);
                ::MoveFileExW((mirror_file + name).c_str(), (mirror_file + given).c_str(), MOVEFILE_REPLACE_EXISTING);
                ::MoveFileExW((github + L"\\" + name).c_str(), (github + L"\\" + given).c_str(), MOVEFILE_REPLACE_EXISTING);
                name = given;
            }
        }
        const auto& packed = written->files[i].packed;
        const std::wstring packed_name = packed ? from_utf8(packed->asset) : L"";
        if (!f.on_mirror) {
            ::DeleteFileW((mirror_file + name).c_str());
            if (packed) ::DeleteFileW((mirror_file + packed_name).c_str());
        }
        if (!f.on_github || (f.asset && f.asset->empty())) {
            ::DeleteFileW((github + L"\\" + name).c_str());
            if (packed) ::DeleteFileW((github + L"\\" + packed_name).c_str());
        }
    }
    if (edited) {
        std::string text = df::publish::document_text(manifest);
        if (!write_file(tag_folder + L"\\manifest.json", text) || !write_file(github + L"\\manifest.json", text)) {
            return false;
        }
        auto signature = key ? df::publish::signature_file_text(*key, text) : df::publish::Result<std::string>(std::string());
        if (key && !signature) return false;
        for (const std::string& name : {digest_signature_name(sha256_hex(text)), std::string(SIGNATURE_FILE_NAME)}) {
            const std::wstring file = L"\\" + from_utf8(name);
            if (key && !(write_file(tag_folder + file, *signature) && write_file(github + file, *signature))) return false;
        }
    }
    if (!release.mirror && !(remove_tree(root + L"\\latest.json") && remove_tree(tag_folder))) return false;
    if (!release.github) return remove_tree(github);
    return write_github_document(root, base_url, tag);
}

bool write_github_document(const std::wstring& root, const std::string& base_url, const std::string& tag) {
    const std::string download = base_url + "/gh/download/" + tag + "/";
    ordered_json assets = ordered_json::array();
    for (const std::wstring& name : names_in(root + L"\\gh\\download\\" + from_utf8(tag))) {
        assets.push_back({{"name", to_utf8(name)},
                          {"browser_download_url", download + to_utf8(name)},
                          {"size", file_size(root + L"\\gh\\download\\" + from_utf8(tag) + L"\\" + name).value_or(0)}});
    }
    ordered_json doc = {{"tag_name", tag},
                        {"name", "duskfern " + version_from_tag(tag)},
                        {"body", "Release notes of " + tag},
                        {"html_url", base_url + "/gh/releases/tag/" + tag},
                        {"assets", assets}};
    const std::wstring folder = root + L"\\gh\\releases";
    return create_folders(folder) == 0 && write_file(folder + L"\\latest", df::publish::document_text(doc));
}

}  // namespace df::test

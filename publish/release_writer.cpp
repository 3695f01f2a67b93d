#include "publish/release_writer.h"

#include "net/sha256.h"
#include "publish/checks.h"
#include "publish/file_io.h"
#include "publish/key_file.h"
#include "publish/packed.h"
#include "publish/read_back.h"
#include "publish/republish.h"
#include "release/manifest.h"
#include "release/mirror_index.h"
#include "release/signature.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

namespace df::publish {
namespace fs = std::filesystem;
using nlohmann::ordered_json;

namespace {

// The text of p, or nothing when it is missing or cannot be read.
std::optional<std::string> existing_text_of(const fs::path& p) {
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) return std::nullopt;
    Result<std::string> text = read_text(p);
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

// The temporary name of an output file: beside it, hidden, never an asset name ("f__..."). An
// asset's is named by key, unique among a run's temporaries, not by the asset name, which may
// already be as long as a file name can be (and asset names may be equal but for case).
fs::path temporary_of(const fs::path& p, const std::string& key) {
    fs::path name = ".";
    if (key.empty()) name += p.filename().native();
    else name += path_from_utf8(key).native();
    name += ".tmp";
    return p.parent_path() / name;
}

// The digest-named signature file's name for a manifest text.
std::string digest_signature_name_of(const std::string& manifest) {
    df::setup::Sha256 hash;
    hash.update(manifest.data(), manifest.size());
    return df::setup::digest_signature_name(hash.finish());
}

bool is_temporary(const fs::path& name) {
    const std::string text = shown_path(name);
    return text.size() > 5 && text.front() == '.' && text.ends_with(".tmp");
}

// The temporaries and new folders of one run. Until it is dropped, every temporary that is
// still there is removed, and so are the folders it made unless something went live.
class Staging {
public:
    Staging() = default;
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    ~Staging() {
        std::error_code ec;
        for (const fs::path& t : temporaries_) fs::remove(t, ec);
        if (live_) return;
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) fs::remove_all(*it, ec);
    }

    // Creates folder (and its parents), remembering the outermost one it made.
    Result<> folder(const fs::path& folder) {
        std::error_code ec;
        fs::path outermost;
        for (fs::path p = folder; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
            outermost = p;
            if (p == p.parent_path()) break;
        }
        fs::create_directories(folder, ec);
        if (ec) return failure("create", folder, ec.message());
        if (!outermost.empty()) made_.push_back(outermost);
        return {};
    }

    // The temporary name of final (temporary_of), removed at the end when it is still there.
    fs::path temporary(const fs::path& final_path, const std::string& key = "") {
        temporaries_.push_back(temporary_of(final_path, key));
        return temporaries_.back();
    }

    // From now on the made folders hold what a server may serve: they stay.
    void going_live() { live_ = true; }

private:
    std::vector<fs::path> temporaries_;
    std::vector<fs::path> made_;
    bool live_ = false;
};

}  // namespace

std::string document_text(const ordered_json& doc) { return doc.dump(2) + "\n"; }

std::string manifest_text(const std::string& version, const std::vector<PublishedFile>& files) {
    ordered_json list = ordered_json::array();
    for (const PublishedFile& f : files) {
        ordered_json entry = {{"path", f.path}, {"size", f.size}, {"sha256", f.sha256}, {"asset", f.asset}};
        if (f.packed) entry["packed"] = {{"asset", f.packed->asset}, {"size", f.packed->size}, {"sha256", f.packed->sha256}};
        list.push_back(std::move(entry));
    }
    return document_text({{"version", version}, {"files", std::move(list)}});
}

std::string latest_text(const std::string& tag, const std::string& version, const std::string& published) {
    return document_text({{"tag", tag},
                          {"version", version},
                          {"published", published},
                          {"manifest", "/" + tag + "/manifest.json"},
                          {"files_base", "/" + tag + "/files/"}});
}

Result<std::string> signature_file_text(const df::setup::EcPrivateKey& key, std::string_view manifest) {
    Result<std::string> signature = checked_signature(key, manifest);
    if (!signature) return Failure{"cannot sign manifest.json: " + signature.error()};
    return df::setup::lower_hex(*signature) + "\n";
}

std::string utc_text(std::int64_t seconds) {
    using namespace std::chrono;
    sys_seconds t{std::chrono::seconds{seconds}};
    sys_days day = floor<days>(t);
    year_month_day date{day};
    hh_mm_ss time{t - day};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buf;
}

Result<Written> write_release(const std::vector<SourceFile>& files, const std::string& tag, const std::string& version,
                              const std::string& published, const Trees& trees, const WriteOptions& options) {
    Written w;
    const fs::path tag_folder = trees.mirror / path_from_utf8(tag);
    const fs::path files_folder = tag_folder / "files";
    const fs::path signature_name = path_from_utf8(std::string(df::setup::SIGNATURE_FILE_NAME));
    const std::vector<fs::path> asset_folders = {files_folder, trees.github};
    const std::vector<fs::path> document_folders = {tag_folder, trees.github};
    const fs::path latest_path = trees.mirror / "latest.json";
    Staging staging;
    for (const fs::path& folder : asset_folders) {
        if (Result<> made = staging.folder(folder); !made) return Failure{made.error()};
    }
    const LiveRelease live = live_release({tag_folder / "manifest.json", trees.github / "manifest.json"});

    // The SHA-256 of what a tree holds under a path, read once: nothing when it holds no file,
    // empty when the file cannot be read.
    std::map<fs::path, std::optional<std::string>> held;
    auto held_digest = [&](const fs::path& p) -> const std::optional<std::string>& {
        auto [it, fresh] = held.emplace(p, std::nullopt);
        std::error_code ec;
        if (fresh && fs::exists(p, ec)) {
            Result<Digest> digest = copy_hashing(p, {});
            it->second = digest ? digest->sha256 : std::string();
        }
        return it->second;
    };
    // Whether a tree holds bytes other than sha256 under the asset name.
    auto holds_other = [&](const std::string& name, const std::string& sha256) {
        return std::any_of(asset_folders.begin(), asset_folders.end(), [&](const fs::path& folder) {
            const std::optional<std::string>& digest = held_digest(folder / path_from_utf8(name));
            return digest && *digest != sha256;
        });
    };

    // Every file once, into temporaries of both trees, hashed on the way; then its packed copy,
    // made from the copy just written so that it stands for exactly those bytes.
    std::vector<std::vector<fs::path>> temporaries, packed_temporaries;
    for (const SourceFile& source : files) {
        const fs::path derived = path_from_utf8(df::setup::default_asset_name(source.path));
        const std::string key = std::to_string(temporaries.size());
        auto staged = [&](const std::string& kind) {
            std::vector<fs::path> t;
            for (const fs::path& folder : asset_folders) t.push_back(staging.temporary(folder / derived, key + kind));
            return t;
        };
        std::vector<fs::path> t = staged("-raw"), packed;
        Result<Digest> digest = copy_hashing(source.source, t);
        if (!digest) return Failure{digest.error()};
        w.files.push_back({source.path, digest->size, digest->sha256, {}, std::nullopt});
        if (options.packed) {
            packed = staged("-packed");
            Result<std::optional<Digest>> copy = pack_file(t.front(), digest->size, packed);
            if (!copy) return Failure{copy.error()};
            if (*copy) w.files.back().packed = df::setup::ManifestPacked{{}, (*copy)->size, (*copy)->sha256};
        }
        w.bytes += digest->size;
        temporaries.push_back(std::move(t));
        packed_temporaries.push_back(std::move(packed));
    }
    std::vector<bool> kept_packed(w.files.size(), false);  // the served packed copy stays
    for (std::size_t i = 0; i < w.files.size(); ++i) {
        PublishedFile& f = w.files[i];
        f.asset = republished_asset_name(f.path, f.sha256, live,
                                         [&](const std::string& name) { return holds_other(name, f.sha256); });
        if (!f.packed) continue;
        f.packed->asset = f.asset + std::string(PACKED_SUFFIX);
        std::optional<df::setup::ManifestPacked> own;  // this file's packed copy as served, with other bytes
        bool other = false;                            // the name is served with another file's bytes
        for (const df::setup::ManifestFile& l : live.files) {
            other = other || (l.asset == f.packed->asset && l.sha256 != f.packed->sha256);
            if (!l.packed || l.packed->asset != f.packed->asset || l.packed->sha256 == f.packed->sha256) continue;
            if (l.path == f.path && l.sha256 == f.sha256 && l.asset == f.asset) own = l.packed;
            else other = true;
        }
        // Another build of zlib may pack the same bytes otherwise: the served copy stays when
        // every tree holds it.
        const bool held_everywhere = own && std::all_of(asset_folders.begin(), asset_folders.end(), [&](const fs::path& d) {
            return held_digest(d / path_from_utf8(own->asset)) == own->sha256;
        });
        if (held_everywhere && !other) {
            f.packed = own;
            kept_packed[i] = true;
        } else if (own || other) {
            f.packed.reset();
        }
    }
    for (std::size_t i = 0; i < w.files.size(); ++i) {
        std::error_code ec;
        if (!w.files[i].packed) {
            for (const fs::path& t : packed_temporaries[i]) fs::remove(t, ec);  // packing did not pay, or the name is served
            continue;
        }
        w.packed_bytes += w.files[i].size;
        w.packed_size += w.files[i].packed->size;
    }
    if (options.prove) w.refusals = check_asset_names(w.files);
    w.manifest = manifest_text(version, w.files);
    const bool other = std::any_of(live.manifests.begin(), live.manifests.end(),
                                   [&](const std::string& m) { return m != w.manifest; });
    if (other && !options.replace) {
        w.refusals.push_back({"", tag + " is already published with other files; publish a new tag"});
    }
    if (!w.refusals.empty()) return w;

    // The documents: a signature of the same key and latest.json of the same release are kept.
    const fs::path digest_name = path_from_utf8(digest_signature_name_of(w.manifest));
    std::optional<std::string> signature;
    if (options.key) {
        for (const fs::path& folder : document_folders) {
            for (const fs::path& name : {digest_name, signature_name}) {
                auto text = existing_text_of(folder / name);
                auto rs = text ? df::setup::parse_signature_text(*text) : std::nullopt;
                if (!signature && rs && df::setup::ecdsa_p256_verify(options.key->xy, w.manifest, *rs)) signature = text;
            }
        }
        if (!signature) {
            Result<std::string> made = signature_file_text(*options.key, w.manifest);
            if (!made) return Failure{made.error()};
            signature = *made;
        }
    }
    std::string latest = latest_text(tag, version, published);
    if (auto held_latest = existing_text_of(latest_path); held_latest && !other) {
        auto index = df::setup::parse_mirror_index(*held_latest);
        if (index && latest_text(tag, version, index->published) == *held_latest) latest = *held_latest;
    }
    WrittenDocuments staged{staging.temporary(latest_path), {}, {}, {}};
    if (Result<> r = write_text(staged.latest, latest); !r) return Failure{r.error()};
    for (std::size_t t = 0; t < document_folders.size(); ++t) {
        staged.manifests.push_back(staging.temporary(document_folders[t] / "manifest.json"));
        if (Result<> r = write_text(staged.manifests.back(), w.manifest); !r) return Failure{r.error()};
        if (!signature) continue;
        for (const fs::path& name : {digest_name, signature_name}) {
            staged.signatures.push_back({shown_path(name), t, staging.temporary(document_folders[t] / name)});
            if (Result<> r = write_text(staged.signatures.back().path, *signature); !r) return Failure{r.error()};
        }
    }
    for (std::size_t i = 0; i < w.files.size(); ++i) {
        if (!w.files[i].packed) continue;
        for (std::size_t t = 0; t < asset_folders.size(); ++t) {
            fs::path copy = kept_packed[i] ? asset_folders[t] / path_from_utf8(w.files[i].packed->asset) : packed_temporaries[i][t];
            staged.packed.push_back({w.files[i].packed->asset, i, copy});
        }
    }
    if (options.prove) {
        w.refusals = read_back(staged, tag, w.files,
                               options.key ? std::optional<std::string>(options.key->xy) : std::nullopt);
    }
    if (!w.refusals.empty()) return w;

    // Live: the files and their packed copies first; then in each tree the signature named after
    // the manifest's digest, the manifest and manifest.json.sig; then latest.json.
    staging.going_live();
    std::size_t changes = 0;
    auto changed = [&](const fs::path& p) {
        ++changes;
        if (options.observer) options.observer(p);
    };
    auto place = [&](const fs::path& temporary, const fs::path& final_path, bool same) -> Result<> {
        std::error_code ec;
        if (same) {
            fs::remove(temporary, ec);
            return {};
        }
        fs::rename(temporary, final_path, ec);
        if (ec) return failure("rename " + shown_path(temporary) + " to", final_path, ec.message());
        changed(final_path);
        return {};
    };
    auto place_asset = [&](const fs::path& temporary, const fs::path& final_path, const std::string& sha256) {
        return place(temporary, final_path, held_digest(final_path) == sha256);
    };
    auto place_document = [&](const fs::path& temporary, const fs::path& final_path, const std::optional<std::string>& text) {
        std::error_code ec;
        if (text) return place(temporary, final_path, existing_text_of(final_path) == text);
        if (fs::remove(final_path, ec)) changed(final_path);
        return Result<>();
    };
    std::set<std::string> kept_assets;
    for (std::size_t i = 0; i < w.files.size(); ++i) {
        const PublishedFile& f = w.files[i];
        kept_assets.insert(f.asset);
        if (f.packed) kept_assets.insert(f.packed->asset);
        for (std::size_t t = 0; t < asset_folders.size(); ++t) {
            const fs::path& folder = asset_folders[t];
            if (Result<> r = place_asset(temporaries[i][t], folder / path_from_utf8(f.asset), f.sha256); !r) {
                return Failure{r.error()};
            }
            if (!f.packed) continue;
            Result<> r = place_asset(packed_temporaries[i][t], folder / path_from_utf8(f.packed->asset), f.packed->sha256);
            if (!r) return Failure{r.error()};
        }
    }
    for (std::size_t t = 0; t < document_folders.size(); ++t) {
        const fs::path& folder = document_folders[t];
        auto signature_temporary = [&](std::size_t k) { return signature ? staged.signatures[2 * t + k].path : fs::path(); };
        const std::tuple<fs::path, fs::path, std::optional<std::string>> in_order[] = {
            {signature_temporary(0), folder / digest_name, signature},
            {staged.manifests[t], folder / "manifest.json", w.manifest},
            {signature_temporary(1), folder / signature_name, signature}};
        for (const auto& [temporary, final_path, text] : in_order) {
            if (Result<> r = place_document(temporary, final_path, text); !r) return Failure{r.error()};
        }
    }
    if (Result<> r = place(staged.latest, latest_path, existing_text_of(latest_path) == latest); !r) {
        return Failure{r.error()};
    }

    // What no served manifest lists: on a first publication or a replacement whatever else the
    // tag's folders hold (the replaced manifest's files and signature stay for installs that read
    // it); always an interrupted run's temporaries.
    const bool clear = live.manifests.empty() || other;
    for (const df::setup::ManifestFile& f : live.files) {
        kept_assets.insert(f.asset);
        if (f.packed) kept_assets.insert(f.packed->asset);
    }
    std::set<fs::path> kept_documents = {"manifest.json", "files"};
    if (signature) kept_documents.insert({signature_name, digest_name});
    for (const std::string& m : live.manifests) kept_documents.insert(path_from_utf8(digest_signature_name_of(m)));
    for (const fs::path& folder : {files_folder, tag_folder, trees.github}) {
        std::error_code ec;
        std::vector<fs::path> stale;
        for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const fs::path name = it->path().filename();
            bool kept = folder != files_folder && kept_documents.count(name);
            kept = kept || (folder != tag_folder && kept_assets.count(shown_path(name)));
            if (is_temporary(name) || (clear && !kept)) stale.push_back(it->path());
        }
        for (const fs::path& p : stale) {
            if (!ec && fs::remove_all(p, ec) > 0) changed(p);
        }
        if (ec) return Failure{"cannot clear " + shown_path(folder) + " of an earlier release: " + ec.message()};
    }
    w.changed = changes > 0;
    return w;
}

}  // namespace df::publish

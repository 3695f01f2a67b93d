#include "publish/release_writer.h"

#include "net/sha256.h"
#include "publish/file_io.h"
#include "publish/key_file.h"
#include "publish/read_back.h"
#include "publish/republish.h"
#include "release/manifest.h"
#include "release/mirror_index.h"
#include "release/signature.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

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

// The temporary name of an output file: beside it, hidden, never an asset name ("f__..."), unique
// among a run's temporaries with a distinct prefix (asset names may be equal but for case).
fs::path temporary_of(const fs::path& p, const std::string& prefix) {
    fs::path name = "." + prefix;
    name += p.filename().native();
    name += ".tmp";
    return p.parent_path() / name;
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
    fs::path temporary(const fs::path& final_path, const std::string& prefix = "") {
        temporaries_.push_back(temporary_of(final_path, prefix));
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
        list.push_back({{"path", f.path}, {"size", f.size}, {"sha256", f.sha256}, {"asset", f.asset}});
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

    // Every file once, into temporaries of both trees, hashed on the way.
    std::vector<std::vector<fs::path>> temporaries;
    for (const SourceFile& source : files) {
        const fs::path derived = path_from_utf8(df::setup::default_asset_name(source.path));
        std::vector<fs::path> t;
        const std::string prefix = std::to_string(temporaries.size()) + "-";
        for (const fs::path& folder : asset_folders) t.push_back(staging.temporary(folder / derived, prefix));
        Result<Digest> digest = copy_hashing(source.source, t);
        if (!digest) return Failure{digest.error()};
        w.files.push_back({source.path, digest->size, digest->sha256, {}});
        w.bytes += digest->size;
        temporaries.push_back(std::move(t));
    }
    for (PublishedFile& f : w.files) {
        f.asset = republished_asset_name(f.path, f.sha256, live, [&](const std::string& name) {
            for (const fs::path& folder : asset_folders) {
                std::error_code ec;
                const fs::path held = folder / path_from_utf8(name);
                if (!fs::exists(held, ec)) continue;
                Result<Digest> digest = copy_hashing(held, {});
                if (!digest || digest->sha256 != f.sha256) return true;
            }
            return false;
        });
        if (f.asset.size() > MAX_ASSET_NAME_BYTES) {
            w.refusals.push_back({printable_path(f.path), "published as " + f.asset + ", an asset name longer than the " +
                                                              std::to_string(MAX_ASSET_NAME_BYTES) +
                                                              " bytes a file name may have"});
        }
    }
    w.manifest = manifest_text(version, w.files);
    const bool other = std::any_of(live.manifests.begin(), live.manifests.end(),
                                   [&](const std::string& m) { return m != w.manifest; });
    if (other && !options.replace) {
        w.refusals.push_back({"", tag + " is already published with other files; publish a new tag"});
    }
    if (!w.refusals.empty()) return w;

    // The documents: a signature of the same key and latest.json of the same release are kept.
    std::optional<std::string> signature;
    if (options.key) {
        for (const fs::path& folder : document_folders) {
            auto held = existing_text_of(folder / signature_name);
            auto rs = held ? df::setup::parse_signature_text(*held) : std::nullopt;
            if (rs && df::setup::ecdsa_p256_verify(options.key->xy, w.manifest, *rs)) signature = held;
            if (signature) break;
        }
        if (!signature) {
            Result<std::string> made = signature_file_text(*options.key, w.manifest);
            if (!made) return Failure{made.error()};
            signature = *made;
        }
    }
    std::string latest = latest_text(tag, version, published);
    if (auto held = existing_text_of(latest_path); held && !other) {
        auto index = df::setup::parse_mirror_index(*held);
        if (index && latest_text(tag, version, index->published) == *held) latest = *held;
    }
    WrittenDocuments staged{staging.temporary(latest_path), {}, {}};
    if (Result<> r = write_text(staged.latest, latest); !r) return Failure{r.error()};
    for (const fs::path& folder : document_folders) {
        staged.manifests.push_back(staging.temporary(folder / "manifest.json"));
        if (Result<> r = write_text(staged.manifests.back(), w.manifest); !r) return Failure{r.error()};
        if (!signature) continue;
        staged.signatures.push_back(staging.temporary(folder / signature_name));
        if (Result<> r = write_text(staged.signatures.back(), *signature); !r) return Failure{r.error()};
    }
    if (options.prove) {
        w.refusals = read_back(staged, tag, w.files,
                               options.key ? std::optional<std::string>(options.key->xy) : std::nullopt);
    }
    if (!w.refusals.empty()) return w;

    // Live: the files first, then each tree's manifest and signature, then latest.json.
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
    std::set<std::string> live_assets, kept_assets;
    for (const df::setup::ManifestFile& f : live.files) live_assets.insert(f.sha256 + "/" + f.asset);
    for (std::size_t i = 0; i < w.files.size(); ++i) {
        const PublishedFile& f = w.files[i];
        kept_assets.insert(f.asset);
        for (std::size_t t = 0; t < asset_folders.size(); ++t) {
            const fs::path final_path = asset_folders[t] / path_from_utf8(f.asset);
            std::error_code ec;
            bool same = live_assets.count(f.sha256 + "/" + f.asset) && fs::file_size(final_path, ec) == f.size && !ec;
            if (Result<> r = place(temporaries[i][t], final_path, same); !r) return Failure{r.error()};
        }
    }
    for (std::size_t t = 0; t < document_folders.size(); ++t) {
        const fs::path manifest = document_folders[t] / "manifest.json", sig = document_folders[t] / signature_name;
        if (Result<> r = place(staged.manifests[t], manifest, existing_text_of(manifest) == w.manifest); !r) {
            return Failure{r.error()};
        }
        std::error_code ec;
        if (signature) {
            if (Result<> r = place(staged.signatures[t], sig, existing_text_of(sig) == signature); !r) return Failure{r.error()};
        } else if (fs::remove(sig, ec)) {
            changed(sig);
        }
    }
    if (Result<> r = place(staged.latest, latest_path, existing_text_of(latest_path) == latest); !r) {
        return Failure{r.error()};
    }

    // What no served manifest lists: on a first publication or a replacement whatever else the
    // tag's folders hold (the replaced manifest's files stay for installs that read it); always
    // an interrupted run's temporaries.
    const bool clear = live.manifests.empty() || other;
    for (const df::setup::ManifestFile& f : live.files) kept_assets.insert(f.asset);
    std::set<fs::path> kept_documents = {"manifest.json", "files"};
    if (signature) kept_documents.insert(signature_name);
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

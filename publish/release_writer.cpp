#include "publish/release_writer.h"

#include "net/sha256.h"
#include "release/manifest.h"
#include "release/signature.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>

namespace df::publish {
namespace fs = std::filesystem;
using nlohmann::ordered_json;

namespace {

constexpr std::size_t COPY_BUFFER = 1u << 20;

std::string text_of(const fs::path& p) { return path_text(p).text; }

// "could not <what> <path>", with the system's reason when it left one.
std::string failure(const char* what, const fs::path& p) {
    std::string text = std::string("could not ") + what + " " + text_of(p);
    if (errno != 0) text += std::string(": ") + std::strerror(errno);
    return text;
}

// The temporary name of an output file: beside it, hidden, never an asset name ("f__...").
fs::path temporary_of(const fs::path& p) {
    fs::path name = ".";
    name += p.filename().native();
    name += ".tmp";
    return p.parent_path() / name;
}

bool rename_into_place(const fs::path& temporary, const fs::path& final_path, std::string& error) {
    std::error_code ec;
    fs::rename(temporary, final_path, ec);
    if (!ec) return true;
    error = "could not rename " + text_of(temporary) + " to " + text_of(final_path) + ": " + ec.message();
    return false;
}

bool write_text(const fs::path& p, const std::string& text, std::string& error) {
    fs::path tmp = temporary_of(p);
    errno = 0;
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            error = failure("write", tmp);
            return false;
        }
    }
    return rename_into_place(tmp, p, error);
}

// Copies source to every destination in one read, hashing the bytes on the way.
bool copy_hashing(const fs::path& source, const std::vector<fs::path>& destinations, PublishedFile& file,
                  std::string& error) {
    errno = 0;
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        error = failure("read", source);
        return false;
    }
    std::vector<std::unique_ptr<std::ofstream>> outs;
    for (const fs::path& d : destinations) {
        outs.push_back(std::make_unique<std::ofstream>(temporary_of(d), std::ios::binary | std::ios::trunc));
        if (!*outs.back()) {
            error = failure("write", temporary_of(d));
            return false;
        }
    }
    df::setup::Sha256 digest;
    std::unique_ptr<char[]> buffer(new char[COPY_BUFFER]);
    file.size = 0;
    while (in) {
        in.read(buffer.get(), COPY_BUFFER);
        std::streamsize got = in.gcount();
        if (got <= 0) break;
        digest.update(buffer.get(), static_cast<std::size_t>(got));
        for (auto& out : outs) out->write(buffer.get(), got);
        file.size += static_cast<std::uint64_t>(got);
    }
    if (in.bad()) {
        error = failure("read", source);
        return false;
    }
    for (std::size_t i = 0; i < outs.size(); ++i) {
        outs[i]->close();
        if (!*outs[i]) {
            error = failure("write", temporary_of(destinations[i]));
            return false;
        }
    }
    file.sha256 = digest.finish();
    if (file.sha256.empty()) {
        error = "could not compute the SHA-256 of " + text_of(source);
        return false;
    }
    for (const fs::path& d : destinations) {
        if (!rename_into_place(temporary_of(d), d, error)) return false;
    }
    return true;
}

// Removes every entry of folder whose name is not kept.
bool remove_others(const fs::path& folder, const std::set<fs::path>& kept, std::string& error) {
    std::error_code ec;
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (!kept.count(it->path().filename())) stale.push_back(it->path());
    }
    for (const fs::path& p : stale) {
        if (!ec) fs::remove_all(p, ec);
    }
    if (!ec) return true;
    error = "could not clear " + text_of(folder) + " of an earlier release: " + ec.message();
    return false;
}

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

std::optional<std::string> signature_file_text(const df::setup::EcPrivateKey& key, std::string_view manifest) {
    auto signature = df::setup::ecdsa_p256_sign(key, manifest);
    if (!signature || !df::setup::ecdsa_p256_verify(key.xy, manifest, *signature)) return std::nullopt;
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

WriteResult write_release(const std::vector<SourceFile>& files, const std::string& tag, const std::string& version,
                          const std::string& published, const Trees& trees, const df::setup::EcPrivateKey* key) {
    WriteResult r;
    const fs::path tag_folder = trees.mirror / path_from_utf8(tag);
    const fs::path files_folder = tag_folder / "files";
    std::error_code ec;
    for (const fs::path& folder : {files_folder, trees.github}) {
        fs::create_directories(folder, ec);
        if (ec) {
            r.error = "could not create " + text_of(folder) + ": " + ec.message();
            return r;
        }
    }

    std::set<fs::path> assets;
    for (const SourceFile& source : files) {
        PublishedFile f;
        f.path = source.path;
        f.asset = df::setup::default_asset_name(source.path);
        const fs::path name = path_from_utf8(f.asset);
        if (!copy_hashing(source.source, {files_folder / name, trees.github / name}, f, r.error)) return r;
        assets.insert(name);
        r.bytes += f.size;
        r.files.push_back(std::move(f));
    }

    r.manifest = manifest_text(version, r.files);
    if (!write_text(tag_folder / "manifest.json", r.manifest, r.error)) return r;
    if (!write_text(trees.github / "manifest.json", r.manifest, r.error)) return r;
    const fs::path signature_name = path_from_utf8(std::string(df::setup::SIGNATURE_FILE_NAME));
    std::set<fs::path> tag_kept = {"manifest.json", "files"};
    std::set<fs::path> github_kept = assets;
    github_kept.insert("manifest.json");
    if (key) {
        auto signature = signature_file_text(*key, r.manifest);
        if (!signature) {
            r.error = "could not sign manifest.json with the key";
            return r;
        }
        if (!write_text(tag_folder / signature_name, *signature, r.error)) return r;
        if (!write_text(trees.github / signature_name, *signature, r.error)) return r;
        tag_kept.insert(signature_name);
        github_kept.insert(signature_name);
    }
    if (!write_text(trees.mirror / "latest.json", latest_text(tag, version, published), r.error)) return r;

    if (!remove_others(files_folder, assets, r.error) || !remove_others(tag_folder, tag_kept, r.error) ||
        !remove_others(trees.github, github_kept, r.error)) {
        return r;
    }
    r.ok = true;
    return r;
}

}  // namespace df::publish

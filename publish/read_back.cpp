#include "publish/read_back.h"

#include "job/plan.h"
#include "net/ecdsa.h"
#include "publish/file_io.h"
#include "publish/packed.h"
#include "release/signature.h"
#include "release/sources.h"


namespace df::publish {
namespace fs = std::filesystem;
namespace {

std::string too_large(std::uint64_t limit) {
    return "larger than the " + std::to_string(limit) + " bytes the setup fetches";
}

// Why the setup would refuse the manifest text for tag, or empty.
std::string manifest_problem(const std::string& text, const std::string& tag, const std::vector<PublishedFile>& files) {
    if (text.size() > df::setup::MANIFEST_MAX_BYTES) return too_large(df::setup::MANIFEST_MAX_BYTES);
    std::string error;
    auto manifest = df::setup::parse_manifest(text, &error);
    if (!manifest) return error;
    if (!df::setup::manifest_accepted(manifest->version, tag)) return "manifest is for " + manifest->version;
    df::setup::Plan plan = df::setup::build_plan(*manifest);
    if (plan.files.size() != manifest->files.size()) return "the setup's plan leaves files out";
    if (auto clash = df::setup::conflicting_path(plan)) return "manifest lists conflicting paths: " + *clash;
    if (plan.files.size() != files.size()) return "it lists other files than were written";
    for (std::size_t i = 0; i < files.size(); ++i) {
        const df::setup::ManifestFile& m = plan.files[i];
        const PublishedFile& f = files[i];
        const bool same_packed = m.packed.has_value() == f.packed.has_value() &&
                                 (!m.packed || (m.packed->asset == f.packed->asset && m.packed->size == f.packed->size &&
                                                m.packed->sha256 == f.packed->sha256));
        if (m.path != f.path || m.size != f.size || m.sha256 != f.sha256 || df::setup::relative_address(m) != f.asset ||
            !same_packed) {
            return "it lists " + m.path + " otherwise than it was written";
        }
    }
    return {};
}

// Why the setup would refuse latest.json's text for tag, or empty.
std::string latest_problem(const std::string& text, const std::string& tag) {
    if (text.size() > df::setup::MIRROR_INDEX_MAX_BYTES) return too_large(df::setup::MIRROR_INDEX_MAX_BYTES);
    std::string error;
    auto index = df::setup::parse_mirror_index(text, &error);
    if (!index) return "bad latest.json: " + error;
    auto release = df::setup::release_from_mirror_index(*index, df::setup::MIRROR_ORIGIN, &error);
    if (!release) return error;
    df::setup::SourceConfig config = df::setup::make_source_config("", df::setup::MIRROR_ORIGIN);
    df::setup::ReleaseInfo conventional = df::setup::alternate_release(df::setup::Source::mirror, tag, config);
    if (index->tag != tag || release->manifest_url != conventional.manifest_url ||
        release->files_base != conventional.files_base) {
        return "it names other places than " + tag + "'s manifest and files";
    }
    return {};
}

}  // namespace

std::vector<Refusal> read_back(const WrittenDocuments& documents, const std::string& tag,
                               const std::vector<PublishedFile>& files, const std::optional<std::string>& xy) {
    std::vector<Refusal> out;
    auto refuse = [&](const std::string& name, const std::string& problem) {
        if (!problem.empty()) out.push_back({name, "the setup would refuse it: " + problem});
    };
    Result<std::string> latest = read_text(documents.latest);
    refuse("latest.json", latest ? latest_problem(*latest, tag) : latest.error());
    std::vector<std::string> manifests;
    for (const fs::path& p : documents.manifests) {
        Result<std::string> text = read_text(p);
        refuse("manifest.json", text ? manifest_problem(*text, tag, files) : text.error());
        manifests.push_back(text ? *text : std::string());
    }
    for (const WrittenFile& s : documents.signatures) {
        Result<std::string> text = read_text(s.path);
        auto signature = text ? df::setup::parse_signature_text(*text) : std::nullopt;
        bool verifies = signature && xy && s.of < manifests.size() &&
                        df::setup::ecdsa_p256_verify(*xy, manifests[s.of], *signature);
        refuse(s.name, verifies ? "" : "manifest signature does not verify");
    }
    for (const WrittenFile& p : documents.packed) {
        const PublishedFile& f = files.at(p.of);
        refuse(p.name, f.packed ? packed_copy_problem(p.path, f.packed->size, f.packed->sha256, f.size, f.sha256)
                                : "the manifest lists no packed copy of " + f.path);
    }
    // One refusal per document is enough: both trees hold the same texts.
    std::vector<Refusal> distinct;
    for (const Refusal& r : out) {
        if (distinct.empty() || distinct.back().line() != r.line()) distinct.push_back(r);
    }
    return distinct;
}

}  // namespace df::publish

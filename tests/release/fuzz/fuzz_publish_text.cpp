// Fuzz entry point for the release tool's text rules: the tag and version (whatever they accept
// the documents can hold and the setup reads back as written), the key file's text (what it
// reads, it writes back the same), and names (UTF-8 conversion, printable text, the build
// folder's and the asset names' refusals, each one line of UTF-8 text).
//
// Input: lines; the first is the tag, the second the version, the rest the paths of a build
// folder; the whole input is also read as a key file and as a name.
#include "publish/build_folder.h"
#include "publish/checks.h"
#include "publish/key_file.h"
#include "publish/release_writer.h"
#include "release/manifest.h"
#include "release/mirror_index.h"
#include "tests/release/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace df::publish;

namespace {

// One line of UTF-8 text without control characters.
bool is_one_line(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    }
    return is_valid_utf8(text);
}

void check_refusals(const std::vector<Refusal>& refusals) {
    for (const Refusal& r : refusals) FUZZ_CHECK(is_one_line(r.line()));
}

// Whether check_tag accepts them; what it accepts goes into the documents.
bool check_tag_rule(const std::string& tag, const std::string& version) {
    if (version.empty()) return false;  // the command line refuses it before the rule
    std::vector<Refusal> refusals = check_tag(tag, version);
    check_refusals(refusals);
    if (!refusals.empty()) return false;
    FUZZ_CHECK(is_valid_utf8(tag) && is_valid_utf8(version));
    auto index = df::setup::parse_mirror_index(latest_text(tag, version, "2026-12-01T10:00:00Z"));
    FUZZ_CHECK(index && index->tag == tag && index->version == version);
    auto manifest = df::setup::parse_manifest(manifest_text(version, {}));
    FUZZ_CHECK(manifest && manifest->version == version && manifest->files.empty());
    return true;
}

void check_key_text(std::string_view text) {
    Result<df::setup::EcPrivateKey> key = parse_key_file(text);
    if (!key) {
        FUZZ_CHECK(!key.error().empty());
        return;
    }
    const std::string written = key_file_text(*key);
    Result<df::setup::EcPrivateKey> again = parse_key_file(written);
    FUZZ_CHECK(again && again->d == key->d && again->xy == key->xy && key_file_text(*again) == written);
}

void check_name(std::string_view bytes) {
    Result<std::string> name = utf8_name(bytes);
    FUZZ_CHECK(bool(name) == is_valid_utf8(bytes));
    FUZZ_CHECK(name ? *name == bytes : is_valid_utf8(name.error()));
    const std::string shown = printable_path(bytes);
    FUZZ_CHECK(is_one_line(shown) && printable_path(shown) == shown);
    if (is_one_line(std::string(bytes))) FUZZ_CHECK(shown == bytes);
}

void check_folder(const std::vector<std::string>& paths, const std::string& version) {
    BuildFolder build;
    std::vector<PublishedFile> files;
    for (const std::string& p : paths) {
        build.files.push_back({p, {}});
        const std::string asset = df::setup::default_asset_name(p);
        files.push_back({p, 1000, std::string(64, '0'), asset, df::setup::ManifestPacked{asset + ".gz", 10, std::string(64, '0')}});
    }
    check_refusals(check_files(build, version));
    std::vector<Refusal> names = check_asset_names(files);
    check_refusals(names);
    if (!names.empty()) return;
    // Names it accepts are distinct whatever the letter case, and short enough for a file system.
    std::vector<std::string> folded;
    for (const PublishedFile& f : files) {
        for (std::string n : {f.asset, f.packed->asset}) {
            FUZZ_CHECK(n.size() <= df::setup::MAX_ASSET_NAME_BYTES);
            for (char& c : n) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            for (const std::string& earlier : folded) FUZZ_CHECK(earlier != n);
            folded.push_back(n);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= text.size() && lines.size() < 64;) {
        std::size_t end = std::min(text.find('\n', at), text.size());
        lines.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    const std::string tag = lines[0], version = lines.size() > 1 ? lines[1] : std::string("1.4.0");
    // The tool reads the build folder only for a tag and version that check_tag accepts.
    const bool accepted = check_tag_rule(tag, version);
    check_key_text(text);
    check_name(text);
    check_folder(std::vector<std::string>(lines.begin() + std::min<std::size_t>(2, lines.size()), lines.end()),
                 accepted ? version : "1.4.0");
    return 0;
}

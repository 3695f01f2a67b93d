// Fuzz entry point: one input fed to all three document readers and the records built from them.
// Besides memory errors it checks what every accepted document guarantees to later steps.
#include "release/manifest.h"
#include "release/sources.h"
#include "release/version.h"
#include "tests/release/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace df::setup;

namespace {

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

void check_mirror(std::string_view text) {
    std::string error;
    auto index = parse_mirror_index(text, &error);
    if (!index) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(!parse_mirror_index(text, nullptr));
        return;
    }
    FUZZ_CHECK(!index->tag.empty() && !index->manifest.empty() && !index->files_base.empty());
    FUZZ_CHECK(parse_version(index->tag).has_value());
    const std::string base = "https://m.example";
    auto release = release_from_mirror_index(*index, base, &error);
    if (!release) {
        FUZZ_CHECK(error == "latest.json points outside the mirror");
        return;
    }
    // Every URL taken from the index stays on the mirror.
    for (const std::string* url : {&release->manifest_url, &release->files_base}) {
        FUZZ_CHECK(url->compare(0, base.size() + 1, base + "/") == 0);
        FUZZ_CHECK(url->find("..") == std::string::npos);
        FUZZ_CHECK(url->find("//", base.size()) == std::string::npos);
    }
    FUZZ_CHECK(release->setup_url.empty() || release->setup_url.compare(0, base.size() + 1, base + "/") == 0);
    FUZZ_CHECK(release->files_base.back() == '/');
    FUZZ_CHECK(release->patient && release->source == Source::mirror);
}

void check_github(std::string_view text) {
    std::string error;
    auto release = parse_github_release(text, &error);
    if (!release) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    FUZZ_CHECK(!release->tag_name.empty());
    for (const auto& a : release->assets) {
        FUZZ_CHECK(!a.name.empty());
        FUZZ_CHECK(a.size <= 0x7FFFFFFFFFFFFFFFULL);
    }
    std::size_t count = release->assets.size();
    std::string tag = release->tag_name;
    auto info = release_from_github(std::move(*release), "https://dl.example/d");
    FUZZ_CHECK(info.assets.size() == count && info.tag == tag);
    FUZZ_CHECK(info.files_base == "https://dl.example/d/" + tag + "/");
    FUZZ_CHECK(!info.manifest_url.empty());
    for (const auto& a : info.assets) {
        FUZZ_CHECK(offers_asset(info, a.name));
        FUZZ_CHECK(!asset_url(info, a.name).empty());
    }
}

void check_manifest(std::string_view text) {
    std::string error;
    auto manifest = parse_manifest(text, &error);
    if (!manifest) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    for (const auto& f : manifest->files) {
        FUZZ_CHECK(is_safe_relative_path(f.path));
        FUZZ_CHECK(f.sha256.size() == 64);
        for (char c : f.sha256) FUZZ_CHECK(is_lower_hex(c));
    }
    for (char c : manifest->zip.sha256) FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    check_mirror(text);
    check_github(text);
    check_manifest(text);
    return 0;
}

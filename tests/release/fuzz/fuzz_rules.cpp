// Fuzz entry point for the text rules: relative paths, mirror URLs, versions, URL trimming and
// asset names. The input is used whole and, split at its first line feed, as two texts.
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

void check_path(std::string_view path) {
    if (is_safe_relative_path(path)) {
        FUZZ_CHECK(!path.empty() && path.size() <= MAX_RELATIVE_PATH_BYTES);
        FUZZ_CHECK(path.find('\\') == std::string_view::npos && path.find(':') == std::string_view::npos);
        FUZZ_CHECK(path.front() != '/' && path.back() != '/' && path.find("//") == std::string_view::npos);
        FUZZ_CHECK(path != ".." && path.rfind("../", 0) != 0 && path.find("/../") == std::string_view::npos);
    }
    std::string name = default_asset_name(path);
    FUZZ_CHECK(name.compare(0, 3, "f__") == 0);
    for (char c : name) {
        FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                   c == '.' || c == '_');
    }
}

void check_mirror_url(std::string_view base, std::string_view path) {
    auto url = mirror_url(base, path);
    if (!url) return;
    std::string trimmed = trim_url(base);
    FUZZ_CHECK(!trimmed.empty());
    FUZZ_CHECK(*url == trimmed + std::string(path));
    FUZZ_CHECK(path.size() >= 2 && path[0] == '/' && path[1] != '/');
    for (std::string_view bad : {"..", "//", "%", "?", "#", "@", ":", "\\"}) {
        FUZZ_CHECK(path.find(bad) == std::string_view::npos);
    }
}

void check_versions(std::string_view a, std::string_view b) {
    auto v = parse_version(a);
    if (v) {
        FUZZ_CHECK(v->major < 1000000000u && v->minor < 1000000000u && v->patch < 1000000000u);
    }
    FUZZ_CHECK(compare_versions(a, a) == 0);
    int ab = compare_versions(a, b);
    FUZZ_CHECK(ab >= -1 && ab <= 1);
    FUZZ_CHECK(ab == -compare_versions(b, a));
    int pre = compare_prerelease(a, b);
    FUZZ_CHECK(pre == -compare_prerelease(b, a));
    std::string from_tag = version_from_tag(a);
    FUZZ_CHECK(from_tag == a || from_tag == a.substr(1));
    // Dropping the "v" never changes what the tag means as a version.
    if (v) FUZZ_CHECK(compare_versions(from_tag, a) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t nl = text.find('\n');
    std::string_view first = text.substr(0, nl);
    std::string_view second = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);

    check_path(text);
    check_path(second);
    check_mirror_url("https://m.example", text);
    check_mirror_url(first, second);
    check_versions(text, second);
    check_versions(first, second);

    std::string t = trim_url(text);
    FUZZ_CHECK(trim_url(t) == t);
    FUZZ_CHECK(t.empty() || (t.back() != '/' && t.back() != ' ' && t.front() != ' '));
    auto config = make_source_config(first, second, text);
    FUZZ_CHECK(!config.mirror_base.empty() && config.mirror_base.back() != '/' && config.mirror_base.back() != ' ');
    return 0;
}

#include "release/signature.h"

namespace df::setup {
namespace {

constexpr std::size_t SIGNED_BYTES = 64;

int lower_hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> parse_lower_hex(std::string_view text, std::size_t size) {
    if (text.size() != 2 * size) return std::nullopt;
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        int hi = lower_hex_value(text[2 * i]), lo = lower_hex_value(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out[i] = static_cast<char>(hi * 16 + lo);
    }
    return out;
}

std::optional<std::string> parse_signature_text(std::string_view text) {
    if (text.ends_with("\r\n")) text.remove_suffix(2);
    else if (text.ends_with("\n")) text.remove_suffix(1);
    return parse_lower_hex(text, SIGNED_BYTES);
}

std::optional<std::string> parse_public_key_text(std::string_view text) { return parse_lower_hex(text, SIGNED_BYTES); }

std::string digest_signature_name(std::string_view manifest_sha256) {
    return "manifest.json." + std::string(manifest_sha256.substr(0, 16)) + ".sig";
}

std::vector<std::string> signature_urls(const ReleaseInfo& release, std::string_view manifest_sha256) {
    const std::string digits(manifest_sha256.substr(0, 16));
    if (release.source == Source::mirror) {
        return {release.manifest_url + "." + digits + ".sig", release.manifest_url + ".sig"};
    }
    std::vector<std::string> urls;
    const std::string named = digest_signature_name(manifest_sha256);
    if (offers_asset(release, named)) urls.push_back(asset_url(release, named));
    urls.push_back(asset_url(release, SIGNATURE_FILE_NAME));
    return urls;
}

}  // namespace df::setup

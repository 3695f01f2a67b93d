#pragma once
// Signed manifests: the signature file beside manifest.json and the text of signatures and
// public keys. Portable. A signature is ECDSA P-256 over the SHA-256 of the manifest's bytes
// exactly as served, r||s; the key is the public point X||Y.
#include "release/sources.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace df::setup {

// The signature file's name on both sources (a GitHub release asset, or beside the mirror's manifest).
inline constexpr std::string_view SIGNATURE_FILE_NAME = "manifest.json.sig";
// The largest signature file the install job fetches.
inline constexpr std::uint64_t SIGNATURE_MAX_BYTES = 1024;

// size bytes from exactly 2 * size lower-case hex characters, or nothing: the one hex reader.
std::optional<std::string> parse_lower_hex(std::string_view text, std::size_t size);

// The 64 bytes r||s written in a signature file: exactly 128 lower-case hex characters,
// optionally followed by "\n" or "\r\n"; nothing for any other text.
std::optional<std::string> parse_signature_text(std::string_view text);

// The 64 bytes X||Y of a public key written as 128 lower-case hex characters, or nothing.
std::optional<std::string> parse_public_key_text(std::string_view text);

// The name of the signature file of the manifest whose SHA-256 is manifest_sha256 (lower-case
// hex): "manifest.json." + its first 16 hex digits + ".sig". A publisher makes it live before
// the manifest, so a manifest and its signature go live in one step; SIGNATURE_FILE_NAME, which
// older setups fetch, follows the manifest.
std::string digest_signature_name(std::string_view manifest_sha256);

// Where a release's signature of the manifest with manifest_sha256 may be, in the order to try
// (the next only when one is missing): the digest-named file, then SIGNATURE_FILE_NAME. On the
// mirror the manifest's URL + "." + 16 hex digits + ".sig", then + ".sig"; on GitHub each name
// by asset_url, the digest-named one only when the release offers it (offers_asset).
std::vector<std::string> signature_urls(const ReleaseInfo& release, std::string_view manifest_sha256);

}  // namespace df::setup

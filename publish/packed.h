#pragma once
// The packed copy of a release file: a gzip stream of one member beside the raw asset, which the
// setup may fetch instead and inflate (net/inflate.h). Made by zlib's deflate at level 9 with a
// fixed header (no time, no name, OS byte 255), so the native and the Windows build of the tool
// write the same bytes. Portable.
#include "publish/file_io.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace df::publish {

// A packed copy's asset name is its file's asset name and this.
inline constexpr std::string_view PACKED_SUFFIX = ".gz";

// Whether a packed copy of packed bytes is worth publishing for a file of size bytes: it saves
// at least an eighth of them (packed * 8 <= size * 7, without overflow).
bool packing_pays(std::uint64_t packed, std::uint64_t size);

// Packs the size bytes of source into every destination: the packed copy's size and SHA-256, or
// nothing when it does not pay (found out as early as the output shows it; the destinations then
// hold a part of it).
Result<std::optional<Digest>> pack_file(const std::filesystem::path& source, std::uint64_t size,
                                        const std::vector<std::filesystem::path>& destinations);

// Why the packed copy at path is not the one the setup expects (packed_size bytes with
// packed_sha256 that inflate, within size bytes, to exactly size bytes with sha256), or empty.
std::string packed_copy_problem(const std::filesystem::path& path, std::uint64_t packed_size,
                                const std::string& packed_sha256, std::uint64_t size, const std::string& sha256);

}  // namespace df::publish

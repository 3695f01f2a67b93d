#pragma once
// The files a delivery keeps beside a destination while it works on it, its part files: the
// bytes being fetched (then verified, waiting for the commit), the packed copy being fetched,
// the record of pieces fetched side by side, and an old file set aside during the commit. Each
// is the destination's name with one of PART_SUFFIXES appended; since no suffix ends another,
// a name made with one suffix never equals a name made with another. Portable.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace df::setup {

enum class PartKind { bytes, packed, pieces, aside };

// By PartKind.
inline constexpr std::array<std::string_view, 4> PART_SUFFIXES = {".part", ".part-packed", ".part-pieces", ".part-old"};

// dest with kind's suffix.
std::wstring part_path(const std::wstring& dest, PartKind kind = PartKind::bytes);

// The kind whose suffix name ends in (A-Z folded, as Windows compares names), or nothing.
std::optional<PartKind> part_kind_of(std::wstring_view name);

// name without the suffix of part_kind_of(name); name itself when it has none.
std::wstring_view part_stem(std::wstring_view name);

}  // namespace df::setup

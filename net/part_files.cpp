#include "net/part_files.h"

namespace df::setup {
namespace {

wchar_t folded(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool ends_with_folded(std::wstring_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    name.remove_prefix(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (folded(name[i]) != static_cast<wchar_t>(suffix[i])) return false;
    }
    return true;
}

}  // namespace

std::wstring part_path(const std::wstring& dest, PartKind kind) {
    const std::string_view suffix = PART_SUFFIXES[static_cast<std::size_t>(kind)];
    return dest + std::wstring(suffix.begin(), suffix.end());
}

std::optional<PartKind> part_kind_of(std::wstring_view name) {
    for (std::size_t k = 0; k < PART_SUFFIXES.size(); ++k) {
        if (ends_with_folded(name, PART_SUFFIXES[k])) return static_cast<PartKind>(k);
    }
    return std::nullopt;
}

std::wstring_view part_stem(std::wstring_view name) {
    auto kind = part_kind_of(name);
    if (!kind) return name;
    return name.substr(0, name.size() - PART_SUFFIXES[static_cast<std::size_t>(*kind)].size());
}

}  // namespace df::setup

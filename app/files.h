#pragma once
// Small file-system operations shared by the download, the folder check and the finishing step.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace df::setup {

// Creates folder and every missing parent; 0 when it exists as a folder afterwards, otherwise
// the system error code of the first refusal (a file in the way gives ERROR_ALREADY_EXISTS).
std::uint32_t create_folders(const std::wstring& folder);

// folder + "\" + name, without doubling a backslash that folder already ends with.
std::wstring join_path(const std::wstring& folder, const std::wstring& name);

// folder joined with a relative UTF-8 path whose segments "/" separates (a release file's place
// in the install folder).
std::wstring join_relative(const std::wstring& folder, std::string_view utf8_path);

// The size of the file at path; nothing when it is absent, unreadable or a folder.
std::optional<std::uint64_t> file_size(const std::wstring& path);

// The part of path before its last "\" or "/" (a root keeps its separator: "D:\x" gives "D:\");
// empty when path has no separator.
std::wstring parent_folder(const std::wstring& path);

}  // namespace df::setup

#pragma once
// Small file-system operations shared by the download, the folder check and the finishing step.
#include <cstdint>
#include <string>

namespace df::setup {

// Creates folder and every missing parent; 0 when it exists as a folder afterwards, otherwise
// the system error code of the first refusal (a file in the way gives ERROR_ALREADY_EXISTS).
std::uint32_t create_folders(const std::wstring& folder);

// folder + "\" + name, without doubling a backslash that folder already ends with.
std::wstring join_path(const std::wstring& folder, const std::wstring& name);

// Writes the file's data at path through to the disk (FlushFileBuffers); 0, or the system error
// code of the open or the flush.
std::uint32_t flush_to_disk(const std::wstring& path);

// The part of path before its last "\" or "/" (a root keeps its separator: "D:\x" gives "D:\");
// empty when path has no separator.
std::wstring parent_folder(const std::wstring& path);

}  // namespace df::setup

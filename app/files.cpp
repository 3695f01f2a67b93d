#include "app/files.h"

#include "app/handle.h"
#include "app/last_error.h"
#include "app/log.h"

#include <algorithm>

#include <windows.h>

namespace df::setup {
namespace {

bool is_folder(const std::wstring& path) {
    DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::uint32_t create_folders(const std::wstring& folder) {
    if (folder.empty()) return ERROR_PATH_NOT_FOUND;
    if (is_folder(folder)) return 0;
    // Walk the prefixes that end before each separator, after the root ("D:\" or "\\server\share\").
    std::size_t start = 0;
    if (folder.size() >= 3 && folder[1] == L':') {
        start = 3;
    } else if (folder.rfind(L"\\\\", 0) == 0) {
        std::size_t server_end = folder.find(L'\\', 2);
        std::size_t share_end = server_end == std::wstring::npos ? server_end : folder.find(L'\\', server_end + 1);
        start = share_end == std::wstring::npos ? folder.size() : share_end + 1;
    }
    for (std::size_t i = start; i <= folder.size(); ++i) {
        if (i != folder.size() && folder[i] != L'\\' && folder[i] != L'/') continue;
        if (i == 0 || folder[i - 1] == L'\\' || folder[i - 1] == L'/') continue;
        std::wstring prefix = folder.substr(0, i);
        if (::CreateDirectoryW(prefix.c_str(), nullptr)) continue;
        const DWORD err = last_error_code();
        if (err == ERROR_ALREADY_EXISTS && is_folder(prefix)) continue;
        return err;
    }
    return is_folder(folder) ? 0 : ERROR_PATH_NOT_FOUND;
}

std::wstring parent_folder(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    if (slash == 2 && path[1] == L':') return path.substr(0, 3);
    return path.substr(0, slash);
}

std::wstring join_relative(const std::wstring& folder, std::string_view utf8_path) {
    std::wstring relative = from_utf8(utf8_path);
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    return join_path(folder, relative);
}

std::wstring join_path(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/') return folder + name;
    return folder + L"\\" + name;
}

std::optional<std::uint64_t> file_size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d) || (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

}  // namespace df::setup

#include "app/log.h"

#include "app/handle.h"

#include <cstdio>
#include <mutex>

namespace df::setup {
namespace {

std::mutex& log_mutex() {
    static std::mutex m;
    return m;
}
std::wstring& path_storage() {
    static std::wstring p;
    return p;
}

}  // namespace

void set_log_path(std::wstring path) {
    std::lock_guard lock(log_mutex());
    path_storage() = std::move(path);
}

std::wstring log_path() {
    std::lock_guard lock(log_mutex());
    return path_storage();
}

void log_line(std::string_view message) {
    std::lock_guard lock(log_mutex());
    const std::wstring& path = path_storage();
    if (path.empty()) return;
    // Full sharing: a viewer (or a deleter) holding the log must not make lines vanish.
    // FILE_APPEND_DATA makes every write land at the current end of the file.
    UniqueFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    char stamp[32];
    int n = std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", unsigned(t.wYear),
                          unsigned(t.wMonth), unsigned(t.wDay), unsigned(t.wHour), unsigned(t.wMinute),
                          unsigned(t.wSecond), unsigned(t.wMilliseconds));
    if (n <= 0) return;
    std::string line(stamp, static_cast<std::size_t>(n));
    line.append(message);
    line.append("\r\n");
    // One write per line, so concurrent writers (other setup processes) never interleave inside it.
    DWORD written = 0;
    ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string to_utf8(std::wstring_view text) {
    if (text.empty()) return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                  nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                              nullptr);
    if (n <= 0) return {};
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::wstring from_utf8(std::string_view text) {
    if (text.empty()) return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    if (n <= 0) return {};
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace df::setup

// The floor of the install bench: the least a Windows program does to fetch and verify the same
// files through the same platform calls as the setup, with no rules, no log and no plan.
//   floor.exe fetch LIST DIR   one WinHTTP session; per line "URL<TAB>PATH" of LIST (UTF-8): a GET
//                              read in 64 KiB pieces into DIR\PATH, then the file read back in
//                              1 MiB blocks through CNG's SHA-256
//   floor.exe hash LIST DIR    only the read-back digest of DIR\PATH for every line
// Folders are created once each; one CNG provider, one read buffer, one download buffer.
// Prints "files=N bytes=B" and exits 0 when every file was fetched (and hashed).
#include "app/handle.h"
#include "bench/digest.h"

#include <cstdio>
#include <set>
#include <string>
#include <vector>

using namespace df::setup;

namespace {

std::wstring wide(const std::string& s) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

struct Entry {
    std::wstring url, path;  // path below DIR with "\"
};

std::vector<Entry> read_list(const wchar_t* list, bool with_url) {
    std::vector<Entry> out;
    UniqueFile f(::CreateFileW(list, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return out;
    std::string text;
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(f.get(), buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        Entry e;
        std::size_t tab = line.find('\t');
        if (with_url) {
            e.url = wide(line.substr(0, tab));
            e.path = wide(line.substr(tab + 1));
        } else {
            e.path = wide(tab == std::string::npos ? line : line.substr(tab + 1));
        }
        for (auto& c : e.path) {
            if (c == L'/') c = L'\\';
        }
        out.push_back(std::move(e));
    }
    return out;
}

bool fetch(HINTERNET session, const Entry& e, const std::wstring& dest, std::vector<char>& buffer) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(e.url.c_str(), 0, 0, &parts)) return false;
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength + parts.dwExtraInfoLength);
    UniqueInternet connection(::WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    UniqueInternet request(connection ? ::WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                      : nullptr);
    if (!request || !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        return false;
    }
    UniqueFile out(::CreateFileW(dest.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return false;
    for (;;) {
        DWORD got = 0, wrote = 0;
        if (!::WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got)) return false;
        if (got == 0) return true;
        if (!::WriteFile(out.get(), buffer.data(), got, &wrote, nullptr) || wrote != got) return false;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 || (std::wstring(argv[1]) != L"fetch" && std::wstring(argv[1]) != L"hash")) {
        std::fprintf(stderr, "usage: floor fetch|hash LIST DIR\n");
        return 2;
    }
    const bool fetching = std::wstring(argv[1]) == L"fetch";
    const std::wstring dir = argv[3];
    std::vector<Entry> entries = read_list(argv[2], fetching);
    UniqueInternet session(fetching ? ::WinHttpOpen(L"floor", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                                    WINHTTP_NO_PROXY_BYPASS, 0)
                                    : nullptr);
    df::bench::Digest digest;
    std::vector<char> buffer(65536);
    std::set<std::wstring> folders;
    long long bytes = 0;
    for (const Entry& e : entries) {
        std::wstring dest = dir + L"\\" + e.path;
        if (fetching) {
            for (std::size_t i = dir.size() + 1; (i = dest.find(L'\\', i)) != std::wstring::npos; ++i) {
                if (folders.insert(dest.substr(0, i)).second) ::CreateDirectoryW(dest.substr(0, i).c_str(), nullptr);
            }
            if (!fetch(session.get(), e, dest, buffer)) {
                std::fprintf(stderr, "floor: cannot fetch %ls\n", e.url.c_str());
                return 1;
            }
        }
        long long n = digest.file(dest);
        if (n < 0) {
            std::fprintf(stderr, "floor: cannot hash %ls\n", dest.c_str());
            return 1;
        }
        bytes += n;
    }
    std::printf("files=%zu bytes=%lld\n", entries.size(), bytes);
    return 0;
}

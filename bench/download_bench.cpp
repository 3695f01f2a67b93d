// One verified download through Http::fetch_verified and the move into place, timed:
//   download_bench.exe URL DEST SIZE SHA256 [ATTEMPTS]
// Prints "elapsed_ms=N ok=0|1 message=..." and exits 0 when the file was delivered.
//   download_bench.exe --request URL
// Times one Http::request whose sink keeps nothing: the HTTP stack alone, without the disk.
#include "app/log.h"
#include "net/http.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

using namespace df::setup;

namespace {

long long now_ms() {
    LARGE_INTEGER freq, t;
    ::QueryPerformanceFrequency(&freq);
    ::QueryPerformanceCounter(&t);
    return t.QuadPart * 1000 / freq.QuadPart;
}

int request_only(const std::string& url) {
    Http http;
    std::uint64_t bytes = 0, chunks = 0;
    long long t0 = now_ms();
    NetError r = http.request(url, 0, nullptr, 15000, [&](const char*, std::uint64_t n, int) {
        bytes += n;
        ++chunks;
        return true;
    });
    long long ms = now_ms() - t0;
    std::printf("elapsed_ms=%lld ok=%d bytes=%llu chunks=%llu message=%s\n", ms, r.ok ? 1 : 0,
                static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(chunks), r.message.c_str());
    return r.ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"--request") == 0) return request_only(to_utf8(argv[2]));
    if (argc < 5) {
        std::fprintf(stderr, "usage: download_bench URL DEST SIZE SHA256 [ATTEMPTS]\n");
        return 2;
    }
    std::string url = to_utf8(argv[1]);
    std::wstring dest = argv[2];
    std::uint64_t size = std::wcstoull(argv[3], nullptr, 10);
    std::string sha = to_utf8(argv[4]);
    int attempts = argc > 5 ? static_cast<int>(std::wcstol(argv[5], nullptr, 10)) : 2;

    Http http;
    if (!http.is_open()) {
        std::fprintf(stderr, "winhttp unavailable\n");
        return 1;
    }
    long long t0 = now_ms();
    bool present = false;
    NetError r = http.fetch_verified(url, dest, size, sha, nullptr, nullptr, attempts, present);
    if (r.ok && !present && !::MoveFileExW(part_path(dest).c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        r.ok = false;
        r.message = "cannot rename the part file";
    }
    long long ms = now_ms() - t0;
    std::printf("elapsed_ms=%lld ok=%d message=%s\n", ms, r.ok ? 1 : 0, r.message.c_str());
    return r.ok ? 0 : 1;
}

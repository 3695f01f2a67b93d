// sha256_bench FILE: prints the SHA-256 of FILE, its size and the throughput of sha256_file.
#include "app/log.h"
#include "net/sha256.h"

#include <chrono>
#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sha256_bench FILE\n");
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    std::uint64_t size = 0;
    auto digest = df::setup::sha256_file(argv[1], &size);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!digest) {
        std::fprintf(stderr, "sha256_bench: cannot hash the file\n");
        return 1;
    }
    std::printf("%s  %llu bytes  %.3f s  %.1f MiB/s\n", digest->c_str(), static_cast<unsigned long long>(size), seconds,
                size / 1048576.0 / seconds);
    return 0;
}

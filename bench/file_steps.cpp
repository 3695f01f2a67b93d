// Times each platform step that the setup takes on one file's path, over every file of a
// folder tree, and prints the mean per file in microseconds:
//   file_steps.exe DIR
// Steps: the attribute reads (GetFileAttributesW, GetFileAttributesExW), creating an existing
// folder, opening the CNG provider, allocating and zero-filling a 1 MiB block, a digest with a
// reused buffer and provider (open, hash object, reads, finish), the same through sha256_file,
// creating and writing a part file, and its rename.
#include "app/handle.h"
#include "app/files.h"
#include "bench/digest.h"
#include "net/sha256.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace df::setup;

namespace {

std::vector<std::wstring> files_below(const std::wstring& dir) {
    std::vector<std::wstring> out;
    std::vector<std::wstring> pending{dir};
    while (!pending.empty()) {
        std::wstring d = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW f;
        UniqueFind find(::FindFirstFileW((d + L"\\*").c_str(), &f));
        if (!find) continue;
        do {
            std::wstring name = f.cFileName;
            if (name == L"." || name == L"..") continue;
            if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) pending.push_back(d + L"\\" + name);
            else out.push_back(d + L"\\" + name);
        } while (::FindNextFileW(find.get(), &f));
    }
    return out;
}

void time_step(const char* name, const std::vector<std::wstring>& files,
               const std::function<void(const std::wstring&)>& step) {
    auto start = std::chrono::steady_clock::now();
    for (const auto& f : files) step(f);
    double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-34s %9.1f us per file\n", name, us / static_cast<double>(files.size()));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: file_steps DIR\n");
        return 2;
    }
    std::vector<std::wstring> files = files_below(argv[1]);
    if (files.empty()) return 1;
    std::printf("%zu files\n", files.size());

    time_step("GetFileAttributesW", files, [](const std::wstring& f) { ::GetFileAttributesW(f.c_str()); });
    time_step("GetFileAttributesExW", files, [](const std::wstring& f) {
        WIN32_FILE_ATTRIBUTE_DATA d;
        ::GetFileAttributesExW(f.c_str(), GetFileExInfoStandard, &d);
    });
    time_step("create_folders (existing parent)", files,
              [](const std::wstring& f) { create_folders(f.substr(0, f.find_last_of(L'\\'))); });
    time_step("BCryptOpenAlgorithmProvider+Close", files, [](const std::wstring&) {
        UniqueAlg alg;
        ::BCryptOpenAlgorithmProvider(alg.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    });
    time_step("new 1 MiB zero-filled + delete", files, [](const std::wstring&) {
        static volatile std::size_t at = 12345;
        static volatile unsigned char seen = 0;
        std::unique_ptr<unsigned char[]> b(new unsigned char[1u << 20]());
        seen = static_cast<unsigned char>(seen + b[at]);  // the block is really made
    });
    df::bench::Digest digest;
    time_step("digest, reused provider and buffer", files, [&](const std::wstring& f) { digest.file(f); });
    time_step("sha256_file", files, [](const std::wstring& f) { sha256_file(f); });
    std::vector<char> chunk(65536, 'x');
    time_step("part file: create, write 128 KiB", files, [&](const std::wstring& f) {
        UniqueFile part(::CreateFileW((f + L".part").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD wrote = 0;
        ::WriteFile(part.get(), chunk.data(), 65536, &wrote, nullptr);
        ::WriteFile(part.get(), chunk.data(), 65536, &wrote, nullptr);
    });
    time_step("MoveFileExW part -> .moved", files, [](const std::wstring& f) {
        ::MoveFileExW((f + L".part").c_str(), (f + L".moved").c_str(), MOVEFILE_REPLACE_EXISTING);
    });
    time_step("DeleteFileW", files, [](const std::wstring& f) { ::DeleteFileW((f + L".moved").c_str()); });
    return 0;
}

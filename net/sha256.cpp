#include "net/sha256.h"

#include "app/handle.h"

#include <memory>
#include <new>

namespace df::setup {
namespace {

constexpr DWORD READ_BUFFER = 1u << 20;       // 1 MiB per ReadFile
constexpr ULONG MAX_FEED = 0x40000000u;       // largest piece handed to BCryptHashData

// Provider and hash object of one digest; destroys the hash before closing the provider.
struct Sha256State {
    UniqueAlg alg;    // declared first: released last
    UniqueHash hash;
    bool usable = false;

    Sha256State() {
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(alg.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
            return;
        }
        if (!BCRYPT_SUCCESS(::BCryptCreateHash(alg.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) return;
        usable = true;
    }
    void feed(const unsigned char* data, DWORD size) {
        while (usable && size > 0) {
            ULONG piece = size < MAX_FEED ? size : MAX_FEED;
            if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), const_cast<PUCHAR>(data), piece, 0))) usable = false;
            data += piece;
            size -= piece;
        }
    }
    std::string finish() {
        if (!usable) return {};
        unsigned char digest[32];
        usable = false;
        if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest, sizeof digest, 0))) return {};
        static const char hex[] = "0123456789abcdef";
        std::string text;
        text.reserve(64);
        for (unsigned char b : digest) {
            text.push_back(hex[b >> 4]);
            text.push_back(hex[b & 0xF]);
        }
        return text;
    }
};

// The read buffer of this thread, zero-filled once and reused by every digest: under Wine a
// 1 MiB block is mapped and unmapped on every allocation, which cost more than hashing a small
// file. Every digest still reads in the same 1 MiB blocks. Null when it cannot be had.
unsigned char* thread_read_buffer() {
    thread_local std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[READ_BUFFER]());
    return buffer.get();
}

}  // namespace

std::optional<std::string> sha256_file(const std::wstring& path, std::uint64_t* bytes_read) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return std::nullopt;
    Sha256State state;
    unsigned char* buffer = thread_read_buffer();
    if (!state.usable || !buffer) return std::nullopt;

    std::uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, READ_BUFFER, &got, nullptr)) return std::nullopt;
        if (got == 0) break;
        state.feed(buffer, got);  // after a failed feed reading goes on, unhashed
        total += got;
    }
    file.reset();
    if (bytes_read) *bytes_read = total;
    std::string text = state.finish();
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace df::setup

#include "net/sha256.h"

#include "app/handle.h"
#include "net/cancel.h"

#include <memory>
#include <new>

namespace df::setup {
namespace {

constexpr DWORD READ_BUFFER = THREAD_READ_BUFFER_SIZE;  // per ReadFile
constexpr ULONG MAX_FEED = 0x40000000u;  // largest piece handed to BCryptHashData



}  // namespace

// Allocated once per thread: a fresh 1 MiB block per digest costs more than hashing a small file.
// Reads ask for no more than the file holds, so a thread of small files holds little of it.
unsigned char* thread_read_buffer() {
    thread_local std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[READ_BUFFER]);
    return buffer.get();
}

std::uint32_t thread_read_size(std::uint64_t remaining) {
    constexpr DWORD PAGE = 4096;
    if (remaining >= READ_BUFFER) return READ_BUFFER;
    return remaining > PAGE ? static_cast<std::uint32_t>(remaining) : PAGE;
}

// Provider and hash object of one digest; destroys the hash before closing the provider.
struct Sha256::State {
    UniqueAlg alg;  // declared first: released last
    UniqueHash hash;
    bool usable = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(state_->alg.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return;
    }
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(state_->alg.get(), state_->hash.put(), nullptr, 0, nullptr, 0, 0))) return;
    state_->usable = true;
}

Sha256::~Sha256() = default;

bool Sha256::usable() const { return state_->usable; }

void Sha256::update(const void* data, std::size_t size) {
    auto* bytes = static_cast<const unsigned char*>(data);
    while (state_->usable && size > 0) {
        ULONG piece = size < MAX_FEED ? static_cast<ULONG>(size) : MAX_FEED;
        if (!BCRYPT_SUCCESS(::BCryptHashData(state_->hash.get(), const_cast<PUCHAR>(bytes), piece, 0))) {
            state_->usable = false;
        }
        bytes += piece;
        size -= piece;
    }
}

std::optional<std::string> Sha256::finish_bytes() {
    if (!state_->usable) return std::nullopt;
    state_->usable = false;
    unsigned char digest[32];
    if (!BCRYPT_SUCCESS(::BCryptFinishHash(state_->hash.get(), digest, sizeof digest, 0))) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::optional<std::string> sha256_file(const std::wstring& path, std::uint64_t* bytes_read,
                                       const std::atomic<bool>* cancel) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return std::nullopt;
    Sha256 digest;
    unsigned char* buffer = thread_read_buffer();
    if (!digest.usable() || !buffer) return std::nullopt;

    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) return std::nullopt;
    const std::uint64_t expected = static_cast<std::uint64_t>(size.QuadPart);
    std::uint64_t total = 0;
    for (;;) {
        if (is_set(cancel)) return std::nullopt;
        DWORD got = 0;
        const DWORD want = thread_read_size(total < expected ? expected - total : 0);
        if (!::ReadFile(file.get(), buffer, want, &got, nullptr)) return std::nullopt;
        if (got == 0) break;
        digest.update(buffer, got);  // after a failed update reading goes on, unhashed
        total += got;
    }
    file.reset();
    if (bytes_read) *bytes_read = total;
    std::string text = digest.finish();
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace df::setup

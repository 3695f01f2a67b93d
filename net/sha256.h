#pragma once
// SHA-256: an incremental digest (Windows CNG in the Windows build, OpenSSL's libcrypto in the
// native one) and the file digest of the setup (Windows build).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace df::setup {

// One digest computed piece by piece.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Whether the system's hasher is ready and no call has failed (false after finishing too).
    bool usable() const;
    // Adds size bytes; after a failure of the system's hasher finish() gives nothing.
    void update(const void* data, std::size_t size);
    // The 32 digest bytes, or nothing when hashing failed; once only.
    std::optional<std::string> finish_bytes();
    // The same as lower-case hex text, or empty when hashing failed; once only (instead of finish_bytes).
    std::string finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Bytes in a thread's read buffer.
inline constexpr std::uint32_t THREAD_READ_BUFFER_SIZE = 1u << 20;

// The calling thread's read buffer of THREAD_READ_BUFFER_SIZE bytes, allocated once and left
// unfilled (the system backs only the pages a read touched); sha256_file reads through it, and
// other reads of a file's blocks may too, between digests. Null when it cannot be had. Windows
// build.
unsigned char* thread_read_buffer();

// What the next read through the thread's buffer asks for, with remaining bytes left in the file
// by its size at the open: at most THREAD_READ_BUFFER_SIZE, and a page once nothing is left (the
// end shows as a read of 0, and a file that grew since is still read whole). A read touches no
// more of the buffer than it asked for (Wine's read touches every page asked for).
std::uint32_t thread_read_size(std::uint64_t remaining);

// Lower-case hex digest of the whole file, or nothing when it cannot be opened, read or hashed,
// or once cancel is set (looked at between blocks); bytes_read (when given) receives the byte
// count once the whole file was read. Windows build.
std::optional<std::string> sha256_file(const std::wstring& path, std::uint64_t* bytes_read = nullptr,
                                       const std::atomic<bool>* cancel = nullptr);

// True when computed is not empty and equals expected with ASCII letters folded.
bool digest_equals(std::string_view computed, std::string_view expected);

// The bytes as lower-case hex text, two digits per byte.
std::string lower_hex(std::string_view bytes);

inline std::string Sha256::finish() {
    auto digest = finish_bytes();
    return digest ? lower_hex(*digest) : std::string();
}

// Lower-case hex digest of bytes held in memory, or empty when hashing failed.
inline std::string sha256_hex(std::string_view bytes) {
    Sha256 digest;
    digest.update(bytes.data(), bytes.size());
    return digest.finish();
}

}  // namespace df::setup

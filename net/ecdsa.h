#pragma once
// ECDSA on P-256 with SHA-256, the signature scheme of release manifests: Windows CNG in the
// Windows build, OpenSSL's libcrypto in the native one. Keys and signatures are raw bytes: the
// private scalar d (32), the public point X||Y (64) and signatures r||s (64).
#include <optional>
#include <string>
#include <string_view>

namespace df::setup {

inline constexpr std::size_t EC_SCALAR_BYTES = 32;
inline constexpr std::size_t EC_POINT_BYTES = 64;
inline constexpr std::size_t EC_SIGNATURE_BYTES = 64;

struct EcPrivateKey {
    std::string d;   // 32 bytes, big-endian
    std::string xy;  // 64 bytes: X then Y, big-endian
};

// A new random key pair, or nothing when the system could not make one.
std::optional<EcPrivateKey> ecdsa_p256_generate();

// r||s of the SHA-256 of message under key, or nothing when the system refused the key.
std::optional<std::string> ecdsa_p256_sign(const EcPrivateKey& key, std::string_view message);

// True when signature (r||s) is the public key xy's signature of the SHA-256 of message.
bool ecdsa_p256_verify(std::string_view xy, std::string_view message, std::string_view signature);

}  // namespace df::setup

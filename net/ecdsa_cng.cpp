// ECDSA P-256 through Windows CNG (BCRYPT_ECDSA_P256_ALGORITHM and its ECC key blobs).
#include "net/ecdsa.h"

#include "app/handle.h"
#include "net/sha256.h"

#include <cstring>
#include <vector>

namespace df::setup {
namespace {

UniqueAlg open_p256() {
    UniqueAlg alg;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(alg.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) alg.reset();
    return alg;
}

// BCRYPT_ECCKEY_BLOB header followed by the key's parts (X, Y, and d for a private blob).
std::vector<unsigned char> key_blob(ULONG magic, std::string_view parts) {
    BCRYPT_ECCKEY_BLOB header{magic, static_cast<ULONG>(EC_SCALAR_BYTES)};
    std::vector<unsigned char> blob(sizeof header + parts.size());
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, parts.data(), parts.size());
    return blob;
}

UniqueKey import_key(BCRYPT_ALG_HANDLE alg, const wchar_t* type, std::vector<unsigned char> blob) {
    UniqueKey key;
    if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(alg, nullptr, type, key.put(), blob.data(),
                                              static_cast<ULONG>(blob.size()), 0))) {
        key.reset();
    }
    return key;
}

std::optional<std::string> digest_of(std::string_view message) {
    Sha256 h;
    h.update(message.data(), message.size());
    return h.finish_bytes();
}

}  // namespace

std::optional<EcPrivateKey> ecdsa_p256_generate() {
    UniqueAlg alg = open_p256();
    UniqueKey key;
    if (!alg || !BCRYPT_SUCCESS(::BCryptGenerateKeyPair(alg.get(), key.put(), 256, 0)) ||
        !BCRYPT_SUCCESS(::BCryptFinalizeKeyPair(key.get(), 0))) {
        return std::nullopt;
    }
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + EC_POINT_BYTES + EC_SCALAR_BYTES];
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(::BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob, &size, 0)) ||
        size != sizeof blob) {
        return std::nullopt;
    }
    const char* parts = reinterpret_cast<const char*>(blob) + sizeof(BCRYPT_ECCKEY_BLOB);
    return EcPrivateKey{std::string(parts + EC_POINT_BYTES, EC_SCALAR_BYTES), std::string(parts, EC_POINT_BYTES)};
}

std::optional<std::string> ecdsa_p256_sign(const EcPrivateKey& key, std::string_view message) {
    if (key.d.size() != EC_SCALAR_BYTES || key.xy.size() != EC_POINT_BYTES) return std::nullopt;
    UniqueAlg alg = open_p256();
    auto digest = digest_of(message);
    if (!alg || !digest) return std::nullopt;
    UniqueKey k = import_key(alg.get(), BCRYPT_ECCPRIVATE_BLOB, key_blob(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, key.xy + key.d));
    if (!k) return std::nullopt;
    std::string signature(EC_SIGNATURE_BYTES, '\0');
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(::BCryptSignHash(k.get(), nullptr, reinterpret_cast<PUCHAR>(digest->data()),
                                         static_cast<ULONG>(digest->size()), reinterpret_cast<PUCHAR>(signature.data()),
                                         static_cast<ULONG>(signature.size()), &size, 0)) ||
        size != EC_SIGNATURE_BYTES) {
        return std::nullopt;
    }
    return signature;
}

bool ecdsa_p256_verify(std::string_view xy, std::string_view message, std::string_view signature) {
    if (xy.size() != EC_POINT_BYTES || signature.size() != EC_SIGNATURE_BYTES) return false;
    UniqueAlg alg = open_p256();
    auto digest = digest_of(message);
    if (!alg || !digest) return false;
    UniqueKey key = import_key(alg.get(), BCRYPT_ECCPUBLIC_BLOB, key_blob(BCRYPT_ECDSA_PUBLIC_P256_MAGIC, xy));
    if (!key) return false;
    std::string sig(signature);
    return BCRYPT_SUCCESS(::BCryptVerifySignature(key.get(), nullptr, reinterpret_cast<PUCHAR>(digest->data()),
                                                  static_cast<ULONG>(digest->size()),
                                                  reinterpret_cast<PUCHAR>(sig.data()), static_cast<ULONG>(sig.size()), 0));
}

}  // namespace df::setup

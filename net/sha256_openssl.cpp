// The incremental SHA-256 of the native build, through OpenSSL's libcrypto.
#include "net/sha256.h"

#include <openssl/evp.h>

namespace df::setup {

struct Sha256::State {
    EVP_MD_CTX* ctx = nullptr;
    bool usable = false;
    ~State() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->ctx = EVP_MD_CTX_new();
    state_->usable = state_->ctx && EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

bool Sha256::usable() const { return state_->usable; }

void Sha256::update(const void* data, std::size_t size) {
    if (state_->usable && size > 0 && EVP_DigestUpdate(state_->ctx, data, size) != 1) state_->usable = false;
}

std::optional<std::string> Sha256::finish_bytes() {
    if (!state_->usable) return std::nullopt;
    state_->usable = false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_DigestFinal_ex(state_->ctx, digest, &n) != 1 || n != 32) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(digest), n);
}

}  // namespace df::setup

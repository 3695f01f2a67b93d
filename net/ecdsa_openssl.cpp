// ECDSA P-256 of the native build, through OpenSSL's libcrypto (keys built from their raw parts).
#include "net/ecdsa.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

namespace df::setup {
namespace {

template <class T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Bignum = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;
using Sig = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;
using ParamBld = std::unique_ptr<OSSL_PARAM_BLD, Freer<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Freer<OSSL_PARAM, OSSL_PARAM_free>>;

Bignum bignum(std::string_view bytes) {
    return Bignum(BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()), nullptr));
}

// The P-256 key with public point xy, and with the private scalar d when it is given.
Pkey make_key(std::string_view xy, std::string_view d) {
    std::string point = "\x04" + std::string(xy);  // uncompressed point encoding
    ParamBld bld(OSSL_PARAM_BLD_new());
    Bignum priv = d.empty() ? nullptr : bignum(d);
    if (!bld || (!d.empty() && !priv)) return nullptr;
    if (!OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
        !OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) ||
        (priv && !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, priv.get()))) {
        return nullptr;
    }
    Params params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, d.empty() ? EVP_PKEY_PUBLIC_KEY : EVP_PKEY_KEYPAIR, params.get()) != 1) {
        return nullptr;
    }
    return Pkey(key);
}

std::string padded(const BIGNUM* n, std::size_t size) {
    std::string out(size, '\0');
    if (BN_bn2binpad(n, reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(size)) != static_cast<int>(size)) {
        return {};
    }
    return out;
}

}  // namespace

std::optional<EcPrivateKey> ecdsa_p256_generate() {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    BIGNUM *d = nullptr, *x = nullptr, *y = nullptr;
    bool got = key && EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &d) == 1 &&
               EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
               EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1;
    Bignum dd(d), xx(x), yy(y);
    if (!got) return std::nullopt;
    EcPrivateKey out{padded(d, EC_SCALAR_BYTES), padded(x, EC_SCALAR_BYTES) + padded(y, EC_SCALAR_BYTES)};
    if (out.d.size() != EC_SCALAR_BYTES || out.xy.size() != EC_POINT_BYTES) return std::nullopt;
    return out;
}

std::optional<std::string> ecdsa_p256_sign(const EcPrivateKey& key, std::string_view message) {
    if (key.d.size() != EC_SCALAR_BYTES || key.xy.size() != EC_POINT_BYTES) return std::nullopt;
    Pkey pkey = make_key(key.xy, key.d);
    MdCtx md(EVP_MD_CTX_new());
    std::size_t size = 0;
    if (!pkey || !md || EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) != 1 ||
        EVP_DigestSign(md.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1) {
        return std::nullopt;
    }
    std::string der(size, '\0');
    if (EVP_DigestSign(md.get(), reinterpret_cast<unsigned char*>(der.data()), &size,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
        return std::nullopt;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    Sig sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(size)));
    if (!sig) return std::nullopt;
    std::string rs = padded(ECDSA_SIG_get0_r(sig.get()), EC_SCALAR_BYTES) + padded(ECDSA_SIG_get0_s(sig.get()), EC_SCALAR_BYTES);
    if (rs.size() != EC_SIGNATURE_BYTES) return std::nullopt;
    return rs;
}

bool ecdsa_p256_verify(std::string_view xy, std::string_view message, std::string_view signature) {
    if (xy.size() != EC_POINT_BYTES || signature.size() != EC_SIGNATURE_BYTES) return false;
    Pkey pkey = make_key(xy, {});
    Sig sig(ECDSA_SIG_new());
    Bignum r = bignum(signature.substr(0, EC_SCALAR_BYTES)), s = bignum(signature.substr(EC_SCALAR_BYTES));
    if (!pkey || !sig || !r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return false;
    r.release();  // owned by sig now
    s.release();
    unsigned char* der = nullptr;
    int der_size = i2d_ECDSA_SIG(sig.get(), &der);
    if (der_size <= 0) return false;
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> der_owner(der, [](unsigned char* p) { OPENSSL_free(p); });
    MdCtx md(EVP_MD_CTX_new());
    return md && EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) == 1 &&
           EVP_DigestVerify(md.get(), der, static_cast<std::size_t>(der_size),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

}  // namespace df::setup

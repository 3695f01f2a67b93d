#pragma once
// The least a Windows program does to hash a file as the setup does: one CNG provider and one
// 1 MiB buffer reused for every file, the file read in 1 MiB blocks. Shared by the benches.
#include "app/handle.h"

#include <memory>
#include <string>

namespace df::bench {

// One SHA-256 pass over a file at a time.
class Digest {
public:
    Digest() : buffer_(new unsigned char[1u << 20]()) {
        ::BCryptOpenAlgorithmProvider(alg_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    }
    // The number of bytes hashed, or -1.
    long long file(const std::wstring& path) {
        df::setup::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        df::setup::UniqueHash hash;
        if (!f || !BCRYPT_SUCCESS(::BCryptCreateHash(alg_.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) return -1;
        long long total = 0;
        DWORD got = 0;
        while (::ReadFile(f.get(), buffer_.get(), 1u << 20, &got, nullptr) && got > 0) {
            ::BCryptHashData(hash.get(), buffer_.get(), got, 0);
            total += got;
        }
        unsigned char out[32];
        return BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), out, sizeof out, 0)) ? total : -1;
    }

private:
    df::setup::UniqueAlg alg_;
    std::unique_ptr<unsigned char[]> buffer_;
};

}  // namespace df::bench

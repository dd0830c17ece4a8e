// The login's cryptographic primitives through the Windows CNG (bcrypt).
#include <windows.h>
// after windows.h
#include <bcrypt.h>

#include <cstring>

#include "crypto.h"

namespace tarnlink::crypto {

void HmacSha256(std::string_view key, std::string_view message, uint8_t (&out)[kSha256Size]) {
    std::memset(out, 0, kSha256Size);
    // The provider is opened per call: logins are rare, and nothing is left to close at unload.
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
        return;
    }
    // CNG accepts an empty key when the pointer is not null.
    static UCHAR kEmpty = 0;
    auto* keyBytes =
        key.empty() ? &kEmpty : reinterpret_cast<PUCHAR>(const_cast<char*>(key.data()));
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, keyBytes,
                                        static_cast<ULONG>(key.size()), 0))) {
        auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(message.data()));
        if (!BCRYPT_SUCCESS(BCryptHashData(hash, data, static_cast<ULONG>(message.size()), 0)) ||
            !BCRYPT_SUCCESS(BCryptFinishHash(hash, out, kSha256Size, 0))) {
            std::memset(out, 0, kSha256Size);
        }
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
}

bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t size) {
    volatile uint8_t difference = 0;
    for (size_t i = 0; i < size; ++i) difference = difference | static_cast<uint8_t>(a[i] ^ b[i]);
    return difference == 0;
}

bool RandomBytes(uint8_t* out, size_t size) {
    return BCRYPT_SUCCESS(
        BCryptGenRandom(nullptr, out, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

}  // namespace tarnlink::crypto

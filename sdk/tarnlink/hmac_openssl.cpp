// The login's cryptographic primitives through OpenSSL.
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include "crypto.h"

namespace tarnlink::crypto {

void HmacSha256(std::string_view key, std::string_view message, uint8_t (&out)[kSha256Size]) {
    unsigned int length = 0;
    // An empty key is valid for HMAC; OpenSSL wants a non-null pointer for it.
    static const char kEmpty = 0;
    HMAC(EVP_sha256(), key.empty() ? &kEmpty : key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), out, &length);
}

bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t size) {
    return CRYPTO_memcmp(a, b, size) == 0;
}

bool RandomBytes(uint8_t* out, size_t size) {
    return RAND_bytes(out, static_cast<int>(size)) == 1;
}

}  // namespace tarnlink::crypto

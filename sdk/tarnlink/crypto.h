// The three cryptographic primitives of the login: HMAC-SHA256, a comparison that takes the same
// time whatever the bytes, and random bytes. hmac_openssl.cpp implements them with OpenSSL,
// hmac_cng.cpp with the Windows CNG; both give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarnlink::crypto {

constexpr size_t kSha256Size = 32;

void HmacSha256(std::string_view key, std::string_view message, uint8_t (&out)[kSha256Size]);
bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t size);
bool RandomBytes(uint8_t* out, size_t size);

}  // namespace tarnlink::crypto

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "protocol/Bytes.h"

namespace wex {

// A key or primitive that cannot be used: wrong length, a point that is not on the curve, a peer key that
// agrees on nothing. Protocol decode faults are WEXError instead.
class CryptoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Bytes of a fixed width, for fields whose size is part of their type.
template <std::size_t N> using FixedBytes = std::array<uint8_t, N>;

// The bytes as a fixed-width array, or nothing when the size differs.
template <std::size_t N> std::optional<FixedBytes<N>> fixedBytes(ByteView bytes) {
    if (bytes.size() != N) return std::nullopt;
    FixedBytes<N> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = bytes[i];
    return out;
}

// The characters of an ASCII label, without the terminating NUL a C string literal would add.
inline ByteView asciiView(std::string_view label) {
    return ByteView(reinterpret_cast<const uint8_t*>(label.data()), label.size());
}

namespace Crypto {

inline constexpr std::size_t sha256Size = 32;
inline constexpr std::size_t hmacSha256Size = 32;
inline constexpr std::size_t hkdfSha256MaxLength = 255 * sha256Size;
inline constexpr std::size_t aeadKeySize = 32;
inline constexpr std::size_t aeadNonceSize = 12;
inline constexpr std::size_t aeadTagSize = 16;

// Prepares libsodium once per process, from whichever thread comes first; every entry point of the
// library calls it, so callers never need to. Throws CryptoError when libsodium cannot start.
void ensureInitialized();

Bytes sha256(ByteView data);
FixedBytes<sha256Size> sha256Fixed(ByteView data);

Bytes hmacSha256(ByteView key, ByteView message);
// Whether `tag` is the HMAC of the message under the key; constant-time in the tag's contents.
bool verifyHmacSha256(ByteView tag, ByteView key, ByteView message);

// HKDF-SHA256 (extract, then expand). An empty salt acts as 32 zero bytes, as the construction defines.
// Throws CryptoError when `length` is above 255 blocks of 32 bytes.
Bytes hkdfSha256(ByteView ikm, ByteView salt, ByteView info, std::size_t length);

// Bytes from the operating system's random source.
Bytes randomBytes(std::size_t count);
void fillRandom(uint8_t* out, std::size_t count);

// Same length and same contents, compared in time that depends only on the length.
bool equalInConstantTime(ByteView a, ByteView b);

// Overwrites memory in a way the compiler may not drop as a dead store.
void wipe(void* p, std::size_t n);

// ChaCha20-Poly1305 (IETF variant, 12-byte nonce) with a detached 16-byte tag. `out` holds the
// ciphertext or plaintext, as long as the input; the input may be the same buffer.
void aeadSeal(uint8_t* out, uint8_t* tag, ByteView plaintext, ByteView aad, const uint8_t* nonce, const uint8_t* key);
// False when the tag does not verify; `out` is then cleared.
bool aeadOpen(uint8_t* out, ByteView ciphertext, const uint8_t* tag, ByteView aad, const uint8_t* nonce,
              const uint8_t* key);

} // namespace Crypto

// Secret bytes that are wiped when they go away, so that keys do not linger in freed memory.
template <std::size_t N> class SecretBytes {
public:
    static constexpr std::size_t size = N;

    SecretBytes() = default;
    explicit SecretBytes(const FixedBytes<N>& bytes) : bytes_(bytes) {}
    SecretBytes(const SecretBytes&) = default;
    SecretBytes& operator=(const SecretBytes&) = default;
    ~SecretBytes() { Crypto::wipe(bytes_.data(), N); }

    ByteView view() const { return bytes_; }
    const uint8_t* data() const { return bytes_.data(); }
    uint8_t* data() { return bytes_.data(); }

    // Constant-time, so that comparing keys tells nothing about where they differ.
    friend bool operator==(const SecretBytes& a, const SecretBytes& b) {
        return Crypto::equalInConstantTime(a.view(), b.view());
    }

private:
    FixedBytes<N> bytes_{};
};

} // namespace wex

#include "protocol/Crypto.h"

#include <sodium.h>

namespace wex::Crypto {

void ensureInitialized() {
    // A function-local static is initialised exactly once even when threads race here, and afterwards
    // costs one load: cheaper than sodium_init, which takes a lock on every call.
    static const bool ready = sodium_init() >= 0;
    if (!ready) throw CryptoError("libsodium could not be initialised");
}

Bytes sha256(ByteView data) {
    const auto digest = sha256Fixed(data);
    return Bytes(digest.begin(), digest.end());
}

FixedBytes<sha256Size> sha256Fixed(ByteView data) {
    ensureInitialized();
    FixedBytes<sha256Size> out;
    crypto_hash_sha256(out.data(), data.data(), data.size());
    return out;
}

namespace {

// libsodium declares its pointers non-null even for empty inputs; an empty span may have no data.
const uint8_t* nonNull(ByteView v) {
    static const uint8_t none = 0;
    return v.empty() ? &none : v.data();
}

FixedBytes<hmacSha256Size> hmac(ByteView key, std::initializer_list<ByteView> parts) {
    ensureInitialized();
    crypto_auth_hmacsha256_state st;
    // Keys longer than a block are hashed first, as HMAC defines; libsodium does that here.
    crypto_auth_hmacsha256_init(&st, nonNull(key), key.size());
    for (ByteView p : parts)
        crypto_auth_hmacsha256_update(&st, p.data(), p.size());
    FixedBytes<hmacSha256Size> out;
    crypto_auth_hmacsha256_final(&st, out.data());
    sodium_memzero(&st, sizeof st);
    return out;
}

} // namespace

Bytes hmacSha256(ByteView key, ByteView message) {
    const auto tag = hmac(key, {message});
    return Bytes(tag.begin(), tag.end());
}

bool verifyHmacSha256(ByteView tag, ByteView key, ByteView message) {
    if (tag.size() != hmacSha256Size) return false;
    const auto expected = hmac(key, {message});
    return crypto_verify_32(expected.data(), tag.data()) == 0;
}

Bytes hkdfSha256(ByteView ikm, ByteView salt, ByteView info, std::size_t length) {
    if (length > hkdfSha256MaxLength) throw CryptoError("HKDF-SHA256 cannot produce more than 8160 bytes");
    SecretBytes<hmacSha256Size> prk(hmac(salt, {ikm}));

    Bytes okm;
    okm.reserve(length);
    SecretBytes<hmacSha256Size> block;
    std::size_t blockLen = 0;
    for (uint8_t counter = 1; okm.size() < length; ++counter) {
        const ByteView previous(block.data(), blockLen);
        const auto t = hmac(prk.view(), {previous, info, ByteView(&counter, 1)});
        block = SecretBytes<hmacSha256Size>(t);
        blockLen = t.size();
        const std::size_t take = std::min(blockLen, length - okm.size());
        okm.insert(okm.end(), t.begin(), t.begin() + static_cast<std::ptrdiff_t>(take));
    }
    return okm;
}

Bytes randomBytes(std::size_t count) {
    Bytes out(count);
    fillRandom(out.data(), out.size());
    return out;
}

void fillRandom(uint8_t* out, std::size_t count) {
    if (count == 0) return; // an empty vector's data() may be null, which libsodium must not see
    ensureInitialized();
    randombytes_buf(out, count);
}

bool equalInConstantTime(ByteView a, ByteView b) {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

void wipe(void* p, std::size_t n) { sodium_memzero(p, n); }

void aeadSeal(uint8_t* out, uint8_t* tag, ByteView plaintext, ByteView aad, const uint8_t* nonce, const uint8_t* key) {
    ensureInitialized();
    uint8_t nowhere = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt_detached(plaintext.empty() ? &nowhere : out, tag, nullptr,
                                                       plaintext.data(), plaintext.size(), aad.data(), aad.size(),
                                                       nullptr, nonce, key);
}

bool aeadOpen(uint8_t* out, ByteView ciphertext, const uint8_t* tag, ByteView aad, const uint8_t* nonce,
              const uint8_t* key) {
    ensureInitialized();
    return crypto_aead_chacha20poly1305_ietf_decrypt_detached(out, nullptr, nonNull(ciphertext), ciphertext.size(), tag,
                                                              aad.data(), aad.size(), nonce, key) == 0;
}

} // namespace wex::Crypto

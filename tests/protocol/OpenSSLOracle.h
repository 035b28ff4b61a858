#pragma once

// OpenSSL 3 as an implementation independent of libsodium: the tests compute the same primitives with
// both and compare.
#include <optional>
#include <stdexcept>
#include <string>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include "protocol/Bytes.h"

namespace wex::oracle {

inline void check(int ok, const char* what) {
    if (ok != 1) throw std::runtime_error(std::string("OpenSSL failed: ") + what);
}

inline Bytes sha256(ByteView data) {
    Bytes out(32);
    unsigned int len = 0;
    check(EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sha256(), nullptr), "digest");
    return out;
}

inline Bytes hmacSha256(ByteView key, ByteView data) {
    Bytes out(32);
    unsigned int len = 0;
    static const uint8_t none = 0;
    if (!HMAC(EVP_sha256(), key.empty() ? &none : key.data(), static_cast<int>(key.size()), data.data(), data.size(),
              out.data(), &len))
        throw std::runtime_error("OpenSSL failed: hmac");
    return out;
}

inline Bytes hkdfSha256(ByteView ikm, ByteView salt, ByteView info, std::size_t length) {
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
    EVP_KDF_free(kdf);
    char digest[] = "SHA256";
    uint8_t none = 0;
    auto ptr = [&](ByteView v) { return v.empty() ? static_cast<void*>(&none) : const_cast<uint8_t*>(v.data()); };
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, ptr(ikm), ikm.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, ptr(salt), salt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, ptr(info), info.size()),
        OSSL_PARAM_construct_end(),
    };
    Bytes out(length);
    const int ok = EVP_KDF_derive(ctx, out.data(), out.size(), params);
    EVP_KDF_CTX_free(ctx);
    check(ok, "hkdf");
    return out;
}

inline EVP_PKEY* privateKey(int type, ByteView raw) {
    EVP_PKEY* k = EVP_PKEY_new_raw_private_key(type, nullptr, raw.data(), raw.size());
    if (!k) throw std::runtime_error("OpenSSL failed: private key");
    return k;
}

inline Bytes rawPublic(EVP_PKEY* k) {
    Bytes out(32);
    std::size_t len = out.size();
    check(EVP_PKEY_get_raw_public_key(k, out.data(), &len), "raw public key");
    return out;
}

inline Bytes x25519Public(ByteView priv) {
    EVP_PKEY* k = privateKey(EVP_PKEY_X25519, priv);
    Bytes out = rawPublic(k);
    EVP_PKEY_free(k);
    return out;
}

inline Bytes x25519(ByteView priv, ByteView peerPub) {
    EVP_PKEY* k = privateKey(EVP_PKEY_X25519, priv);
    EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peerPub.data(), peerPub.size());
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(k, nullptr);
    Bytes out(32);
    std::size_t len = out.size();
    const bool ok = peer && EVP_PKEY_derive_init(ctx) == 1 && EVP_PKEY_derive_set_peer(ctx, peer) == 1 &&
                    EVP_PKEY_derive(ctx, out.data(), &len) == 1;
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(peer);
    EVP_PKEY_free(k);
    if (!ok) throw std::runtime_error("OpenSSL failed: x25519");
    return out;
}

inline Bytes ed25519Public(ByteView seed) {
    EVP_PKEY* k = privateKey(EVP_PKEY_ED25519, seed);
    Bytes out = rawPublic(k);
    EVP_PKEY_free(k);
    return out;
}

inline Bytes ed25519Sign(ByteView seed, ByteView message) {
    EVP_PKEY* k = privateKey(EVP_PKEY_ED25519, seed);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    Bytes sig(64);
    std::size_t len = sig.size();
    const bool ok = EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, k) == 1 &&
                    EVP_DigestSign(ctx, sig.data(), &len, message.data(), message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(k);
    if (!ok) throw std::runtime_error("OpenSSL failed: ed25519 sign");
    return sig;
}

inline bool ed25519Verify(ByteView publicKey, ByteView message, ByteView sig) {
    EVP_PKEY* k = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size());
    if (!k) return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok = EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, k) == 1 &&
                    EVP_DigestVerify(ctx, sig.data(), sig.size(), message.data(), message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(k);
    return ok;
}

// ChaCha20-Poly1305 with a 12-byte nonce: ciphertext followed by the 16-byte tag.
inline Bytes chachaSeal(ByteView key, ByteView nonce, ByteView aad, ByteView plaintext) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(plaintext.size() + 16);
    int len = 0;
    bool ok = EVP_EncryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, key.data(), nonce.data()) == 1 &&
              EVP_EncryptUpdate(ctx, nullptr, &len, aad.data(), static_cast<int>(aad.size())) == 1;
    if (ok && !plaintext.empty())
        ok = EVP_EncryptUpdate(ctx, out.data(), &len, plaintext.data(), static_cast<int>(plaintext.size())) == 1;
    ok = ok && EVP_EncryptFinal_ex(ctx, out.data() + plaintext.size(), &len) == 1 &&
         EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, out.data() + plaintext.size()) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) throw std::runtime_error("OpenSSL failed: chacha20-poly1305 seal");
    return out;
}

inline std::optional<Bytes> chachaOpen(ByteView key, ByteView nonce, ByteView aad, ByteView ciphertext, ByteView tag) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(ciphertext.size());
    Bytes tagCopy(tag.begin(), tag.end());
    int len = 0;
    bool ok = EVP_DecryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, key.data(), nonce.data()) == 1 &&
              EVP_DecryptUpdate(ctx, nullptr, &len, aad.data(), static_cast<int>(aad.size())) == 1;
    if (ok && !ciphertext.empty())
        ok = EVP_DecryptUpdate(ctx, out.data(), &len, ciphertext.data(), static_cast<int>(ciphertext.size())) == 1;
    ok = ok && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, tagCopy.data()) == 1 &&
         EVP_DecryptFinal_ex(ctx, out.data() + out.size(), &len) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return std::nullopt;
    return out;
}

} // namespace wex::oracle

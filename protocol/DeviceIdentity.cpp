#include "protocol/DeviceIdentity.h"

#include <sodium.h>

namespace wex {

DeviceIdentity::DeviceIdentity() {
    Crypto::ensureInitialized();
    crypto_sign_ed25519_keypair(publicKey_.data(), secretKey_.data());
}

DeviceIdentity::DeviceIdentity(ByteView raw) {
    static_assert(crypto_sign_ed25519_SEEDBYTES == rawSize && crypto_sign_ed25519_SECRETKEYBYTES == 64);
    if (raw.size() != rawSize) throw CryptoError("an Ed25519 private key has 32 bytes");
    Crypto::ensureInitialized();
    crypto_sign_ed25519_seed_keypair(publicKey_.data(), secretKey_.data(), raw.data());
}

Bytes DeviceIdentity::raw() const { return Bytes(secretKey_.data(), secretKey_.data() + rawSize); }

Bytes DeviceIdentity::sign(ByteView message) const {
    Bytes sig(signatureSize);
    if (crypto_sign_ed25519_detached(sig.data(), nullptr, message.data(), message.size(), secretKey_.data()) != 0)
        return {};
    return sig;
}

bool DeviceIdentity::verify(ByteView signature, ByteView message, ByteView publicKey) {
    if (signature.size() != signatureSize || publicKey.size() != publicKeySize) return false;
    Crypto::ensureInitialized();
    // libsodium refuses small-order and non-canonical keys, small-order R and non-canonical S, so a
    // signature cannot be made to verify for any message by choosing a degenerate key.
    return crypto_sign_ed25519_verify_detached(signature.data(), message.data(), message.size(), publicKey.data()) == 0;
}

} // namespace wex

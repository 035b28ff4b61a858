#pragma once

#include <cstddef>

#include "protocol/Bytes.h"
#include "protocol/Crypto.h"

namespace wex {

// A fresh X25519 key for one handshake, dropped once the session keys are derived.
class EphemeralKey {
public:
    static constexpr std::size_t publicKeySize = 32;
    static constexpr std::size_t privateKeySize = 32;
    using PublicKey = FixedBytes<publicKeySize>;
    using SharedSecret = SecretBytes<32>;

    // A new random key.
    EphemeralKey();
    // A known private key, for known-answer checks; throws CryptoError unless it has 32 bytes.
    static EphemeralKey fromPrivate(ByteView priv);

    const PublicKey& publicKey() const { return publicKey_; }

    // X25519 with the peer's public key. Throws CryptoError when the key does not have 32 bytes or is
    // of small order (the result would be all zeros, a secret any onlooker knows).
    SharedSecret sharedSecret(ByteView peerPublicKey) const;

private:
    struct Private {};
    explicit EphemeralKey(Private) {}
    void derivePublic();

    SecretBytes<privateKeySize> priv_;
    PublicKey publicKey_{};
};

} // namespace wex

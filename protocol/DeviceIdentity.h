#pragma once

#include <cstddef>

#include "protocol/Bytes.h"
#include "protocol/Crypto.h"

namespace wex {

// A device's long-lived Ed25519 signing key. Its 32-byte public key is the device's static key on the
// wire; its persisted form is the 32-byte private seed (`raw`).
class DeviceIdentity {
public:
    static constexpr std::size_t rawSize = 32;
    static constexpr std::size_t publicKeySize = 32;
    static constexpr std::size_t signatureSize = 64;
    using PublicKey = FixedBytes<publicKeySize>;

    // A new random identity.
    DeviceIdentity();
    // From the 32-byte seed; throws CryptoError for any other length.
    explicit DeviceIdentity(ByteView raw);

    // The seed: a secret, to be written only to a 0600 file.
    Bytes raw() const;
    const PublicKey& publicKey() const { return publicKey_; }

    // The 64-byte signature over `message`; empty when signing fails, which every verifier rejects.
    Bytes sign(ByteView message) const;

    // True only for a 32-byte public key that is a canonical encoding of a point of large order and a
    // 64-byte signature with a canonical S that verifies over the message. Never throws.
    static bool verify(ByteView signature, ByteView message, ByteView publicKey);

private:
    SecretBytes<64> secretKey_; // libsodium's form: the seed, then the public key
    PublicKey publicKey_{};
};

} // namespace wex

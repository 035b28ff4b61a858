#include "protocol/EphemeralKey.h"

#include <sodium.h>

namespace wex {

EphemeralKey::EphemeralKey() {
    Crypto::fillRandom(priv_.data(), privateKeySize);
    derivePublic();
}

EphemeralKey EphemeralKey::fromPrivate(ByteView priv) {
    const auto bytes = fixedBytes<privateKeySize>(priv);
    if (!bytes) throw CryptoError("an X25519 private key has 32 bytes");
    EphemeralKey k{Private{}};
    k.priv_ = SecretBytes<privateKeySize>(*bytes);
    k.derivePublic();
    return k;
}

void EphemeralKey::derivePublic() {
    Crypto::ensureInitialized();
    crypto_scalarmult_curve25519_base(publicKey_.data(), priv_.data());
}

EphemeralKey::SharedSecret EphemeralKey::sharedSecret(ByteView peerPublicKey) const {
    if (peerPublicKey.size() != publicKeySize) throw CryptoError("an X25519 public key has 32 bytes");
    Crypto::ensureInitialized();
    SharedSecret shared;
    if (crypto_scalarmult_curve25519(shared.data(), priv_.data(), peerPublicKey.data()) != 0)
        throw CryptoError("the peer's X25519 key is of small order");
    return shared;
}

} // namespace wex

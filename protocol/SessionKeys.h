#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/Bytes.h"
#include "protocol/Crypto.h"
#include "protocol/Stream.h"

namespace wex {

// Who sends a sealed frame; appears only inside the nonce.
enum class Direction : uint8_t { clientToAgent = 0, agentToClient = 1 };

std::optional<Direction> directionFromRaw(uint8_t raw);
constexpr Direction flipped(Direction d) {
    return d == Direction::clientToAgent ? Direction::agentToClient : Direction::clientToAgent;
}

// One ChaCha20-Poly1305 key per direction of a session.
struct SessionKeys {
    static constexpr std::size_t keySize = 32;
    using Key = SecretBytes<keySize>;

    Key c2a; // seals what the controller sends to the agent
    Key a2c; // seals what the agent sends to the controller

    // From two raw 32-byte keys; throws CryptoError for any other length.
    static SessionKeys fromBytes(ByteView c2a, ByteView a2c);

    const Key& forDirection(Direction d) const { return d == Direction::clientToAgent ? c2a : a2c; }

    // Both sides call this with the client's ephemeral key first: salt = SHA-256(client || agent),
    // 64 bytes of HKDF-SHA256 over the shared secret with info "WEX/1 session keys", split in two.
    static SessionKeys derive(ByteView shared, ByteView clientEphPub, ByteView agentEphPub);

    bool operator==(const SessionKeys&) const = default;
};

using WEXNonce = FixedBytes<Crypto::aeadNonceSize>;

// direction, stream, six zero bytes, seq big-endian. Unique as long as a sender never repeats a
// sequence number on one stream under one key.
WEXNonce wexNonce(Direction direction, Stream stream, uint32_t seq);

} // namespace wex

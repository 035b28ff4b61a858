#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "protocol/Bytes.h"

namespace wex {

// Which side of a room a relay connection is.
enum class RelayRole : uint8_t { agent = 1, client = 2 };
std::optional<RelayRole> relayRoleFromRaw(uint8_t raw);

// The bytes a peer sends the relay before its first WEX/1 frame, and the relay's replies.
namespace RelayRegister {

inline constexpr std::string_view magic = "DRLY";
inline constexpr std::string_view challengePrefix = "DRLY-v2";
inline constexpr std::string_view nonceTag = "DRLYN";
inline constexpr std::string_view redirectTag = "DRLYR";
inline constexpr std::size_t nonceSize = 32;
inline constexpr std::size_t maxPubKeySize = 255;

// "DRLY", 1, role, room as a u16 count and UTF-8. Empty when the room is longer than 65535 bytes: a cut
// room would name a different room.
Bytes encode(RelayRole role, std::string_view room);

// "DRLY", 2, role, account, room and token (each a u16 count and UTF-8), then the public key behind a
// one-byte length. Empty when a text is longer than 65535 bytes or the key longer than 255.
Bytes encodeV2(RelayRole role, std::string_view account, std::string_view room, std::string_view token,
               ByteView pubKey);

// The bytes to sign in answer to a nonce: "DRLY-v2", 0, role, 0, account, 0, room, 0, nonce.
Bytes challenge(RelayRole role, std::string_view account, std::string_view room, ByteView nonce);

// "DRLYN" and a 32-byte nonce to sign.
struct NonceReply {
    Bytes nonce;
    std::size_t consumed = 0; // always 37
    bool operator==(const NonceReply&) const = default;
};
// "DRLYR", a u16 count and the "host:port" of the node to use instead (text repaired if not UTF-8).
struct RedirectReply {
    std::string target;
    std::size_t consumed = 0; // 7 + the count
    bool operator==(const RedirectReply&) const = default;
};
// The bytes so far could still become one of the replies.
struct NeedMore {
    bool operator==(const NeedMore&) const = default;
};
// The bytes are no relay reply: they begin the peer's WEX/1 stream.
struct Passthrough {
    bool operator==(const Passthrough&) const = default;
};
using Preamble = std::variant<NeedMore, Passthrough, NonceReply, RedirectReply>;

// Classifies the bytes received from the relay so far, from the connection's first byte. Never fails;
// bytes after the consumed ones are left for the caller (they start the peer's stream).
Preamble parsePreamble(ByteView received);

// Appends a u16 byte count and the bytes; false (and nothing appended) when the text is longer than 65535.
bool appendStr16(Bytes& out, std::string_view text);

} // namespace RelayRegister

} // namespace wex

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "protocol/Bytes.h"
#include "protocol/RelayPreamble.h"

namespace dovrel::test::relay {

// The relay's side of the registration preamble: what an agent or a controller sends before its first
// WEX/1 frame. Texts are kept as the raw bytes received (a room is matched byte for byte).
struct Registration {
    uint8_t version = 1; // 1: room only; 2: account, room, token and key
    wex::RelayRole role = wex::RelayRole::agent;
    std::string account;
    std::string room;
    std::string token; // a secret: never printed
    wex::Bytes pubKey;
    std::size_t consumed = 0; // bytes of the preamble; what follows is the peer's stream
    bool operator==(const Registration&) const = default;
};

// The bytes so far are a proper beginning of a preamble.
struct Incomplete {
    bool operator==(const Incomplete&) const = default;
};

// The bytes can never become a preamble: the connection is refused.
struct Malformed {
    std::string reason;
    bool operator==(const Malformed&) const = default;
};

using RegistrationParse = std::variant<Incomplete, Malformed, Registration>;

// Reads "DRLY", the version (1 or 2), the role (1 or 2), then the room (version 1) or the account, room
// and token (each a u16 count and its bytes) and the one-byte-length key (version 2). Decides as early
// as the bytes allow: a wrong magic, version or role is Malformed at once.
RegistrationParse parseRegistration(wex::ByteView received);

// The challenge the relay sends: "DRLYN" and the nonce.
wex::Bytes nonceReply(wex::ByteView nonce);
// "DRLYR", a u16 count and the target text; empty when the text is longer than 65535 bytes.
wex::Bytes redirectReply(std::string_view target);

// Text for the event log: printable ASCII as it is, everything else as \xNN.
std::string printable(std::string_view raw);

} // namespace dovrel::test::relay

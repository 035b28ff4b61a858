#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/Bytes.h"
#include "protocol/Cap.h"
#include "protocol/Crypto.h"

// The five plain control messages that open a session: Hello, HelloAck, Auth, then AuthOk or AuthFail.
// Payloads only; the frame around them is the caller's. Raw fields have their wire width in their type,
// so a field of the wrong width cannot be encoded. Every decoder reads from the first byte, throws
// WEXError::truncated for an incomplete field and badEnum for the enumerations checked below, repairs
// bad UTF-8 and ignores trailing bytes. A text longer than 65535 UTF-8 bytes is cut at a character.
namespace wex {

enum class AuthMode : uint8_t {
    keypair = 1, // proves possession of a key the agent already trusts
    psk = 2,     // proves knowledge of the pairing code
};
std::optional<AuthMode> authModeFromRaw(uint8_t raw);

enum class AuthFailReason : uint8_t {
    unknown = 1,
    badProof = 2,
    notPaired = 3,
    version = 4,
    tooManySessions = 5,
    revoked = 6,
};
std::optional<AuthFailReason> authFailReasonFromRaw(uint8_t raw);

// Controller to agent. Without capability bytes on the wire, decoding gives Cap::assumedWhenAbsent.
struct Hello {
    static constexpr std::size_t fixedSize = 87; // without the name's bytes and the capabilities

    uint16_t reqId = 0;
    uint8_t protoMin = 1;
    uint8_t protoMax = 1;
    FixedBytes<16> deviceId{};
    FixedBytes<32> staticPub{};
    FixedBytes<32> ephPub{};
    AuthMode authMode = AuthMode::keypair;
    std::string deviceName;
    uint32_t capabilities = Cap::screenClient;
    bool capabilitiesPresent = true; // whether the 4 capability bytes are on the wire

    Bytes encode() const;
    // authMode is checked after the name: a short name is `truncated` whatever the mode byte says.
    static Hello decode(ByteView payload);
    bool operator==(const Hello&) const = default;
};

// Agent to controller. Without capability bytes on the wire, decoding gives 0.
struct HelloAck {
    static constexpr std::size_t fixedSize = 147; // without the capabilities

    uint16_t reqId = 0;
    uint8_t protoSelected = 1;
    FixedBytes<16> deviceId{};
    FixedBytes<32> staticPub{};
    FixedBytes<32> ephPub{};
    FixedBytes<24> challenge{};
    uint64_t agentTimeUs = 0;
    FixedBytes<32> chanbind{};
    uint32_t capabilities = 0;
    bool capabilitiesPresent = true;

    Bytes encode() const;
    static HelloAck decode(ByteView payload);
    bool operator==(const HelloAck&) const = default;
};

// Controller to agent: a signature proof (keypair) or a pairing-code proof (psk), both 64 bytes.
struct Auth {
    static constexpr std::size_t size = 91;

    uint16_t reqId = 0;
    AuthMode authMode = AuthMode::keypair;
    FixedBytes<64> proof{};
    FixedBytes<24> clientNonce{};

    Bytes encode() const;
    // authMode is checked only once proof and nonce are complete.
    static Auth decode(ByteView payload);
    bool operator==(const Auth&) const = default;
};

// Agent to controller: authenticated; the last plain frame of a session.
struct AuthOk {
    static constexpr std::size_t size = 78;

    uint16_t reqId = 0;
    uint32_t sessionId = 0;
    FixedBytes<64> agentProof{};
    uint32_t resumeToken = 0;
    uint16_t heartbeatMs = 0;
    uint16_t idleTimeoutMs = 0;

    Bytes encode() const;
    static AuthOk decode(ByteView payload);
    bool operator==(const AuthOk&) const = default;
};

// Agent to controller: refused.
struct AuthFail {
    uint16_t reqId = 0;
    AuthFailReason reason = AuthFailReason::unknown;
    std::string message;

    Bytes encode() const;
    // reason is checked after the message has been read.
    static AuthFail decode(ByteView payload);
    bool operator==(const AuthFail&) const = default;
};

} // namespace wex

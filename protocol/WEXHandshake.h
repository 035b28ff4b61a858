#pragma once

#include <cstddef>

#include "protocol/Bytes.h"
#include "protocol/DeviceIdentity.h"

// The handshake's computations, shared by both programs so that the bytes one side signs are the bytes
// the other checks. Pure functions; none throws.
namespace wex::WEXHandshake {

inline constexpr std::size_t challengeSize = 24;
inline constexpr std::size_t channelBindingSize = 32;
inline constexpr std::size_t proofSize = 64;

// clientDeviceId || clientStaticPub || agentStaticPub || challenge || clientEphPub || agentEphPub
// (168 bytes with the usual sizes; no size is checked here).
Bytes transcript(ByteView clientDeviceId, ByteView clientStaticPub, ByteView agentStaticPub, ByteView challenge,
                 ByteView clientEphPub, ByteView agentEphPub);

// SHA-256 of clientEphPub || agentEphPub: the same bytes as the session keys' salt.
Bytes channelBinding(ByteView clientEphPub, ByteView agentEphPub);

// The client's signature over transcript || chanbind; empty when signing fails.
Bytes clientProof(const DeviceIdentity& identity, ByteView transcript, ByteView chanbind);
bool verifyClientProof(ByteView proof, ByteView clientStaticPub, ByteView transcript, ByteView chanbind);

// The agent's signature over transcript || chanbind || "agent", so that neither side's proof can stand
// in for the other's; empty when signing fails.
Bytes agentProof(const DeviceIdentity& identity, ByteView transcript, ByteView chanbind);
bool verifyAgentProof(ByteView proof, ByteView agentStaticPub, ByteView transcript, ByteView chanbind);

// HMAC-SHA256 keyed with the pairing-code key over transcript || chanbind, then 32 zero bytes, so that it
// fills the same 64-byte field as a signature.
Bytes pskProof(ByteView psk, ByteView transcript, ByteView chanbind);
// True for a 64-byte proof whose first 32 bytes are that HMAC (compared in constant time); the last 32
// bytes are not looked at.
bool verifyPskProof(ByteView proof, ByteView psk, ByteView transcript, ByteView chanbind);

} // namespace wex::WEXHandshake

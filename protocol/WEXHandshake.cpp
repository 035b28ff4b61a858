#include "protocol/WEXHandshake.h"

#include <initializer_list>
#include <string_view>

#include "protocol/Crypto.h"

namespace wex::WEXHandshake {

namespace {

constexpr std::string_view agentSuffix = "agent";

Bytes concat(std::initializer_list<ByteView> parts) {
    std::size_t total = 0;
    for (ByteView p : parts)
        total += p.size();
    Bytes out;
    out.reserve(total);
    for (ByteView p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

Bytes transcript(ByteView clientDeviceId, ByteView clientStaticPub, ByteView agentStaticPub, ByteView challenge,
                 ByteView clientEphPub, ByteView agentEphPub) {
    return concat({clientDeviceId, clientStaticPub, agentStaticPub, challenge, clientEphPub, agentEphPub});
}

Bytes channelBinding(ByteView clientEphPub, ByteView agentEphPub) {
    return Crypto::sha256(concat({clientEphPub, agentEphPub}));
}

Bytes clientProof(const DeviceIdentity& identity, ByteView transcript, ByteView chanbind) {
    return identity.sign(concat({transcript, chanbind}));
}

bool verifyClientProof(ByteView proof, ByteView clientStaticPub, ByteView transcript, ByteView chanbind) {
    return DeviceIdentity::verify(proof, concat({transcript, chanbind}), clientStaticPub);
}

Bytes agentProof(const DeviceIdentity& identity, ByteView transcript, ByteView chanbind) {
    return identity.sign(concat({transcript, chanbind, asciiView(agentSuffix)}));
}

bool verifyAgentProof(ByteView proof, ByteView agentStaticPub, ByteView transcript, ByteView chanbind) {
    return DeviceIdentity::verify(proof, concat({transcript, chanbind, asciiView(agentSuffix)}), agentStaticPub);
}

Bytes pskProof(ByteView psk, ByteView transcript, ByteView chanbind) {
    Bytes proof = Crypto::hmacSha256(psk, concat({transcript, chanbind}));
    proof.resize(proofSize, 0);
    return proof;
}

bool verifyPskProof(ByteView proof, ByteView psk, ByteView transcript, ByteView chanbind) {
    if (proof.size() != proofSize) return false;
    return Crypto::verifyHmacSha256(proof.first(Crypto::hmacSha256Size), psk, concat({transcript, chanbind}));
}

} // namespace wex::WEXHandshake

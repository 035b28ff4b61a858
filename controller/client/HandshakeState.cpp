#include "controller/client/HandshakeState.h"

#include <algorithm>

#include "controller/client/Hexed.h"
#include "controller/client/PairingCodeInput.h"
#include "protocol/Crypto.h"
#include "protocol/Hex.h"
#include "protocol/PairingCode.h"
#include "protocol/WEXError.h"
#include "protocol/WEXHandshake.h"

namespace dovrel::controller {

const wex::EphemeralKey::PublicKey& HandshakeState::newEphemeralKey() {
    eph_ = std::make_unique<wex::EphemeralKey>();
    return eph_->publicKey();
}

HandshakeState::AckVerdict HandshakeState::check(const wex::HelloAck& ack, const wex::DeviceIdentity& identity,
                                                 wex::ByteView deviceId, const std::string& relayRoom,
                                                 std::string& agentId) {
    std::optional<wex::SessionKeys> keys;
    try {
        if (!eph_) return AckVerdict::ignored;
        const auto shared = eph_->sharedSecret(ack.ephPub);
        keys = wex::SessionKeys::derive(shared.view(), eph_->publicKey(), ack.ephPub);
    } catch (const wex::WEXError&) {
        return AckVerdict::ignored;
    } catch (const wex::CryptoError&) {
        return AckVerdict::ignored;
    }
    agentId = wex::deviceIdOfKey(ack.staticPub);
    if (agentId != wex::hexed(ack.deviceId)) return AckVerdict::foreignDeviceId;
    if (!relayRoom.empty() && lowercased(relayRoom) != agentId) return AckVerdict::roomNotOwned;

    const wex::Bytes transcript = wex::WEXHandshake::transcript(deviceId, identity.publicKey(), ack.staticPub,
                                                                ack.challenge, eph_->publicKey(), ack.ephPub);
    const wex::Bytes chanbind = wex::WEXHandshake::channelBinding(eph_->publicKey(), ack.ephPub);
    if (!std::equal(chanbind.begin(), chanbind.end(), ack.chanbind.begin(), ack.chanbind.end()))
        return AckVerdict::tampered;

    keys_ = std::move(keys);
    agentPub_ = wex::Bytes(ack.staticPub.begin(), ack.staticPub.end());
    transcript_ = transcript;
    chanbind_ = chanbind;
    return AckVerdict::accepted;
}

namespace {
wex::Auth authWith(wex::AuthMode mode, const wex::Bytes& proof) {
    wex::Auth auth;
    auth.reqId = 1;
    auth.authMode = mode;
    if (proof.size() == auth.proof.size()) std::copy(proof.begin(), proof.end(), auth.proof.begin());
    auth.clientNonce = nonce24();
    return auth;
}
} // namespace

std::optional<wex::Auth> HandshakeState::keypairAuth(const wex::DeviceIdentity& identity) {
    stage_ = HandshakeStage::sentKeypairAuth;
    if (!transcript_ || !chanbind_) return std::nullopt;
    return authWith(wex::AuthMode::keypair, wex::WEXHandshake::clientProof(identity, *transcript_, *chanbind_));
}

std::optional<wex::Auth> HandshakeState::pskAuth(const std::string& code) {
    stage_ = HandshakeStage::sentPskAuth;
    if (!transcript_ || !chanbind_) return std::nullopt;
    const auto psk = wex::pairingCodeKey(normalizedPairingCode(code));
    return authWith(wex::AuthMode::psk, wex::WEXHandshake::pskProof(psk, *transcript_, *chanbind_));
}

HandshakeState::OkVerdict HandshakeState::check(const wex::AuthOk& ok) const {
    if (!keys_ || !agentPub_ || !transcript_ || !chanbind_) return OkVerdict::ignored;
    return wex::WEXHandshake::verifyAgentProof(ok.agentProof, *agentPub_, *transcript_, *chanbind_)
               ? OkVerdict::holds
               : OkVerdict::badProof;
}

void HandshakeState::forgetAgreement() {
    keys_.reset();
    agentPub_.reset();
    transcript_.reset();
    chanbind_.reset();
}

} // namespace dovrel::controller

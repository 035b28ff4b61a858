#include "protocol/ControllerHandshakeMachine.h"

#include <algorithm>

#include "protocol/Crypto.h"
#include "protocol/Hex.h"
#include "protocol/PairingCode.h"
#include "protocol/WEXError.h"
#include "protocol/WEXHandshake.h"

namespace wex {

namespace {
// Identifiers are lowercase hexadecimal; a room may have been typed or stored in capitals.
bool sameIdentifier(std::string_view room, std::string_view id) {
    return std::equal(room.begin(), room.end(), id.begin(), id.end(), [](char a, char b) {
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        return a == b;
    });
}

Auth authWith(AuthMode mode, const Bytes& proof, uint16_t reqId) {
    Auth auth;
    auth.reqId = reqId;
    auth.authMode = mode;
    // A failed signature is empty and goes out as zeros, which no agent accepts.
    if (proof.size() == auth.proof.size()) std::copy(proof.begin(), proof.end(), auth.proof.begin());
    Crypto::fillRandom(auth.clientNonce.data(), auth.clientNonce.size());
    return auth;
}
} // namespace

Hello ControllerHandshakeMachine::hello(const Self& self, std::string deviceName, uint32_t capabilities,
                                        bool capabilitiesPresent, AuthMode mode) {
    stage_ = Stage::dialing;
    eph_ = std::make_unique<EphemeralKey>();
    Hello hello;
    hello.reqId = 1;
    hello.protoMin = 1;
    hello.protoMax = 1;
    hello.deviceId = self.deviceId;
    hello.staticPub = self.identity.publicKey();
    hello.ephPub = eph_->publicKey();
    hello.authMode = mode;
    hello.deviceName = std::move(deviceName);
    hello.capabilities = capabilities;
    hello.capabilitiesPresent = capabilitiesPresent;
    return hello;
}

ControllerHandshakeMachine::AckVerdict ControllerHandshakeMachine::check(const HelloAck& ack, const Self& self,
                                                                         std::string_view relayRoom,
                                                                         std::string& agentId) {
    std::optional<SessionKeys> keys;
    try {
        if (!eph_) return AckVerdict::ignored;
        const auto shared = eph_->sharedSecret(ack.ephPub);
        keys = SessionKeys::derive(shared.view(), eph_->publicKey(), ack.ephPub);
    } catch (const WEXError&) {
        return AckVerdict::ignored;
    } catch (const CryptoError&) {
        return AckVerdict::ignored;
    }
    agentId = deviceIdOfKey(ack.staticPub);
    if (agentId != hexed(ack.deviceId)) return AckVerdict::foreignDeviceId;
    if (!relayRoom.empty() && !sameIdentifier(relayRoom, agentId)) return AckVerdict::roomNotOwned;

    const Bytes transcript = WEXHandshake::transcript(self.deviceId, self.identity.publicKey(), ack.staticPub,
                                                      ack.challenge, eph_->publicKey(), ack.ephPub);
    const Bytes chanbind = WEXHandshake::channelBinding(eph_->publicKey(), ack.ephPub);
    if (!std::equal(chanbind.begin(), chanbind.end(), ack.chanbind.begin(), ack.chanbind.end()))
        return AckVerdict::tampered;

    keys_ = std::move(keys);
    agentPub_ = Bytes(ack.staticPub.begin(), ack.staticPub.end());
    transcript_ = transcript;
    chanbind_ = chanbind;
    return AckVerdict::accepted;
}

ControllerHandshakeMachine::Proof ControllerHandshakeMachine::choose(const Standing& standing) {
    if (standing.keyTrusted && !standing.codeRequired) return Proof::key;
    return standing.haveCode ? Proof::code : Proof::askForCode;
}

std::optional<Auth> ControllerHandshakeMachine::keyAuth(const DeviceIdentity& identity, uint16_t reqId) {
    stage_ = Stage::sentKeypairAuth;
    if (!transcript_ || !chanbind_) return std::nullopt;
    return authWith(AuthMode::keypair, WEXHandshake::clientProof(identity, *transcript_, *chanbind_), reqId);
}

std::optional<Auth> ControllerHandshakeMachine::codeAuth(std::string_view code, uint16_t reqId) {
    stage_ = Stage::sentPskAuth;
    if (!transcript_ || !chanbind_) return std::nullopt;
    const auto psk = pairingCodeKey(code);
    return authWith(AuthMode::psk, WEXHandshake::pskProof(psk, *transcript_, *chanbind_), reqId);
}

ControllerHandshakeMachine::OkVerdict ControllerHandshakeMachine::check(const AuthOk& ok,
                                                                        const std::optional<Bytes>& trustedKey) const {
    if (!keys_ || !agentPub_ || !transcript_ || !chanbind_) return OkVerdict::ignored;
    if (!WEXHandshake::verifyAgentProof(ok.agentProof, *agentPub_, *transcript_, *chanbind_))
        return OkVerdict::badProof;
    if (trustedKey && *trustedKey != *agentPub_) return OkVerdict::keyChanged;
    return OkVerdict::established;
}

ControllerHandshakeMachine::Fail ControllerHandshakeMachine::refusal(ByteView authFailPayload) {
    Fail fail;
    try {
        const auto decoded = AuthFail::decode(authFailPayload);
        fail.reason = static_cast<int>(decoded.reason);
        fail.message = decoded.message;
    } catch (const WEXError&) {
    }
    if (fail.reason == static_cast<int>(AuthFailReason::tooManySessions))
        fail.refusal = Refusal::busy;
    else if (fail.reason == static_cast<int>(AuthFailReason::notPaired))
        fail.refusal = Refusal::notPaired;
    return fail;
}

std::shared_ptr<SecureSession> ControllerHandshakeMachine::openSession() const {
    return std::make_shared<SecureSession>(*keys_, Direction::clientToAgent);
}

void ControllerHandshakeMachine::forgetAgreement() {
    keys_.reset();
    agentPub_.reset();
    transcript_.reset();
    chanbind_.reset();
}

} // namespace wex

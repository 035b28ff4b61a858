// The client's side of the WEX/1 handshake: Hello, the checks on HelloAck, proving itself by key or
// by pairing code, the checks on AuthOk, and the answers to AuthFail.
#include "controller/client/ClientCore.h"
#include "controller/client/ClientTexts.h"
#include "controller/client/Hexed.h"
#include "controller/client/PairingCodeInput.h"
#include "controller/client/WEXClient.h"
#include "controller/platform/ClientLog.h"
#include "protocol/ControlMessages.h"
#include "protocol/LogText.h"
#include "protocol/PairingCode.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/WEXError.h"
#include "protocol/WEXHandshake.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
// A refusal because the agent no longer knows our key is answered by a new connection with the code;
// the agent drops the refused connection 0.2 s after its answer, so the new one waits a little longer.
constexpr auto repairRedialDelay = 1000ms;
} // namespace

std::optional<std::string> ClientCore::knownCode() const {
    if (enteredCode_ && !enteredCode_->empty()) return enteredCode_;
    return security_->pairingCode();
}

void ClientCore::sendHello() {
    clientLog(std::string("→ Hello (starting handshake, code ") + (knownCode() ? "set" : "NOT set") + ")");
    armHandshakeDeadline();
    clientEph_ = std::make_unique<wex::EphemeralKey>();
    wex::Hello hello;
    hello.reqId = 1;
    hello.protoMin = 1;
    hello.protoMax = 1;
    hello.deviceId = security_->deviceId();
    hello.staticPub = security_->identity().publicKey();
    hello.ephPub = clientEph_->publicKey();
    hello.authMode = wex::AuthMode::keypair;
    hello.deviceName = deviceName_;
    hello.capabilities = advertisedCaps_;
    hello.capabilitiesPresent = true;
    sendPlain(wex::ControlType::hello, hello.encode());
}

void ClientCore::handleHelloAck(wex::ByteView payload) {
    clientLog("← HelloAck (agent answered through relay)");
    clearReachTimeout();

    wex::HelloAck ack;
    std::optional<wex::SessionKeys> keys;
    try {
        ack = wex::HelloAck::decode(payload);
        if (!clientEph_) return;
        const auto shared = clientEph_->sharedSecret(ack.ephPub);
        keys = wex::SessionKeys::derive(shared.view(), clientEph_->publicKey(), ack.ephPub);
    } catch (const wex::WEXError&) {
        return;
    } catch (const wex::CryptoError&) {
        return;
    }
    agentCaps_ = ack.capabilities;
    agentCapsPresent_ = ack.capabilitiesPresent;

    // Check 1: the identifier must be the one the agent's key stands for.
    const std::string agentId = wex::deviceIdOfKey(ack.staticPub);
    if (agentId != wex::hexed(ack.deviceId)) {
        clientLog("✗ HelloAck: deviceId is not derived from staticPub - refusing");
        setStatus(texts::statusFailedVerification);
        cancelLinksKeepingGeneration();
        return;
    }
    // Check 2: through the relay, the key must own the room we asked for.
    if (isRelay_ && !relayRoom_.empty() && lowercased(relayRoom_) != agentId) {
        clientLog("✗ HelloAck: answered by a key that does not own room " + relayRoom_ + " - refusing");
        rejectAndHalt(std::string(texts::roomNotOwned), texts::statusFailedVerification);
        return;
    }
    agentRoom_ = agentId;

    const auto deviceId = security_->deviceId();
    const wex::Bytes transcript = wex::WEXHandshake::transcript(
        deviceId, security_->identity().publicKey(), ack.staticPub, ack.challenge, clientEph_->publicKey(), ack.ephPub);
    // Check 3: the binding must cover the two ephemeral keys we actually agreed on.
    const wex::Bytes chanbind = wex::WEXHandshake::channelBinding(clientEph_->publicKey(), ack.ephPub);
    if (!std::equal(chanbind.begin(), chanbind.end(), ack.chanbind.begin(), ack.chanbind.end())) {
        rejectAndHalt(std::string(texts::tampered), texts::statusChanbind);
        return;
    }

    pendingKeys_ = std::move(keys);
    pendingAgentPub_ = wex::Bytes(ack.staticPub.begin(), ack.staticPub.end());
    pendingTranscript_ = transcript;
    pendingChanbind_ = chanbind;
    decideAuth();
}

void ClientCore::decideAuth() {
    // A machine whose agent has forgotten our key is answered with the code even though we still
    // trust its key; the trust stays until a code-proven session replaces it.
    const bool keyTrusted = security_->trustedAgent(agentRoom_).has_value();
    const bool trusted = keyTrusted && !codeRequired_.contains(agentRoom_);
    const auto code = knownCode();
    clientLog("decideAuth room=" + agentRoom_ + " trusted=" + (trusted ? "true" : "false") +
              " haveCode=" + (code ? "true" : "false"));
    if (trusted) {
        sendKeypairAuth();
    } else if (code) {
        sendPskAuth(*code);
    } else {
        setPhase(Phase::of(PhaseKind::needsCode));
        setStatus(texts::statusEnterCode);
    }
}

void ClientCore::sendKeypairAuth() {
    stage_ = HandshakeStage::sentKeypairAuth;
    if (!pendingTranscript_ || !pendingChanbind_) return;
    setPhase(Phase::of(PhaseKind::handshaking));
    const wex::Bytes proof =
        wex::WEXHandshake::clientProof(security_->identity(), *pendingTranscript_, *pendingChanbind_);
    wex::Auth auth;
    auth.reqId = 1;
    auth.authMode = wex::AuthMode::keypair;
    if (proof.size() == auth.proof.size()) std::copy(proof.begin(), proof.end(), auth.proof.begin());
    auth.clientNonce = nonce24();
    sendPlain(wex::ControlType::auth, auth.encode());
}

void ClientCore::sendPskAuth(const std::string& code) {
    stage_ = HandshakeStage::sentPskAuth;
    if (!pendingTranscript_ || !pendingChanbind_) return;
    setPhase(Phase::of(PhaseKind::handshaking));
    const auto psk = wex::pairingCodeKey(normalizedPairingCode(code));
    const wex::Bytes proof = wex::WEXHandshake::pskProof(psk, *pendingTranscript_, *pendingChanbind_);
    wex::Auth auth;
    auth.reqId = 1;
    auth.authMode = wex::AuthMode::psk;
    if (proof.size() == auth.proof.size()) std::copy(proof.begin(), proof.end(), auth.proof.begin());
    auth.clientNonce = nonce24();
    sendPlain(wex::ControlType::auth, auth.encode());
}

void ClientCore::handleAuthOk(wex::ByteView payload) {
    wex::AuthOk ok;
    try {
        ok = wex::AuthOk::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    if (!pendingKeys_ || !pendingAgentPub_ || !pendingTranscript_ || !pendingChanbind_) return;

    if (!wex::WEXHandshake::verifyAgentProof(ok.agentProof, *pendingAgentPub_, *pendingTranscript_,
                                             *pendingChanbind_)) {
        setStatus(texts::statusFailedVerification);
        return;
    }
    if (const auto trusted = security_->trustedAgent(agentRoom_); trusted && *trusted != *pendingAgentPub_) {
        rejectAndHalt(std::string(texts::identityChanged), texts::statusKeyMismatch);
        return;
    }

    handshakeTimer_.reset();
    deadlineArmed_ = false; // a later re-dial of this session is a new attempt with its own deadline
    session_ = std::make_shared<wex::SecureSession>(*pendingKeys_, wex::Direction::clientToAgent);
    sessionId_ = ok.sessionId;
    // Frame identifiers, the agent's clock and the picture chain all start afresh with a session.
    lastVideoFrameId_ = 0;
    reasm_.clear();
    decoder_->reset();
    agentClock_.clear();
    publishedSize_ = {0, 0};
    lastPongAt_ = clock_.now();
    security_->trustAgent(*pendingAgentPub_, agentRoom_);
    codeRequired_.erase(agentRoom_);
    enteredCode_.reset();

    setStatus(texts::statusPaired);
    post([id = QString::fromStdString(agentRoom_)](WEXClient& c) {
        c.publishReconnecting(false);
        c.publishAgentDeviceId(id);
    });
    setPhase(Phase::of(PhaseKind::connected));

    if (revoke_ && revoke_->room == agentRoom_ && revoke_->attempt == attempt_) {
        // The unpair flow: tell the agent, forget it here, and end the session.
        sendControlSecure({}, wex::ControlType::unpair);
        security_->forgetAgent(agentRoom_);
        finishRevoke(true);
        soon([this] { disconnect(); });
        return;
    }
    sendKeyframeRequest();
    startPing();
    beginInputSession();
}

void ClientCore::restartLinkAfter(Duration delay) {
    // The refused link is abandoned (its close is not a failure to react to) and dialled afresh.
    ++gen_;
    if (control_) control_->retire();
    if (relay_) relay_->retire();
    dropSession();
    rx_.clear();
    if (isRelay_) {
        const std::string room = relayRoom_;
        redialAfter(delay, [this, room] { startRelay(room); });
    } else {
        redialAfter(delay, [this] { startControl(); });
    }
}

void ClientCore::handleAuthFail(wex::ByteView payload) {
    int reason = 0;
    std::string message;
    try {
        const auto fail = wex::AuthFail::decode(payload);
        reason = static_cast<int>(fail.reason);
        message = fail.message;
    } catch (const wex::WEXError&) {
    }
    clientLog("← authFail reason=" + std::to_string(reason) + " msg=" + wex::logText(message));

    if (reason == static_cast<int>(wex::AuthFailReason::tooManySessions)) {
        enteredCode_.reset();
        rejectAndHalt(message.empty() ? std::string(texts::alreadyInUse) : message, texts::statusBusy);
        return;
    }
    if (reason == static_cast<int>(wex::AuthFailReason::notPaired)) {
        setStatus(texts::statusRepairing);
        if (!agentRoom_.empty()) codeRequired_.insert(agentRoom_);
        if (knownCode()) {
            // The next attempt proves itself with the code, after a pause.
            setPhase(Phase::of(PhaseKind::connecting));
            restartLinkAfter(repairRedialDelay);
        } else {
            // Nothing to prove ourselves with: ask for the code instead of dialling in circles.
            haltReconnect();
            setPhase(Phase::of(PhaseKind::needsCode));
            setStatus(texts::statusEnterCode);
        }
        return;
    }
    enteredCode_.reset();
    rejectAndHalt(message.empty() ? std::string(texts::codeMismatch) : message, texts::statusRejected(reason));
}

} // namespace dovrel::controller

// The client's side of the WEX/1 handshake: Hello, the checks on HelloAck, proving itself by key or
// by pairing code, the checks on AuthOk, and the answers to AuthFail.
#include "controller/client/session/ClientCore.h"
#include "controller/client/session/ClientTexts.h"
#include "controller/client/session/PairingCodeInput.h"
#include "controller/client/session/WEXClient.h"
#include "controller/platform/ClientLog.h"
#include "protocol/ControlMessages.h"
#include "protocol/LogText.h"
#include "protocol/WEXError.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
using Machine = wex::ControllerHandshakeMachine;
using Verdict = Machine::AckVerdict;

// A refusal because the agent no longer knows our key is answered by a new connection with the code;
// the agent drops the refused connection 0.2 s after its answer, so the new one waits a little longer.
constexpr auto repairRedialDelay = 1000ms;
} // namespace

std::optional<std::string> ClientCore::knownCode() const {
    if (enteredCode_ && !enteredCode_->empty()) return enteredCode_;
    return security_->pairingCode();
}

void ClientCore::handshakeMessage(wex::ControlType type, const wex::Bytes& payload) {
    switch (type) {
    case wex::ControlType::helloAck: handleHelloAck(payload); return;
    case wex::ControlType::authOk: handleAuthOk(payload); return;
    case wex::ControlType::authFail: handleAuthFail(payload); return;
    default: return;
    }
}

void ClientCore::sendHello() {
    clientLog(std::string("→ Hello (starting handshake, code ") + (knownCode() ? "set" : "NOT set") + ")");
    // Once per attempt: re-dials within the attempt send Hello again but do not move the deadline.
    watchdogs_.armHandshake();
    const wex::Hello hello = handshake_.hello(self(), deviceName_, advertisedCaps_, true, wex::AuthMode::keypair);
    sendPlain(wex::ControlType::hello, hello.encode());
}

HandshakeStage ClientCore::handshakeStage() const {
    switch (handshake_.stage()) {
    case Machine::Stage::dialing: return HandshakeStage::dialing;
    case Machine::Stage::sentPskAuth: return HandshakeStage::sentPskAuth;
    case Machine::Stage::sentKeypairAuth: return HandshakeStage::sentKeypairAuth;
    }
    return HandshakeStage::dialing;
}

wex::ControllerHandshakeMachine::Self ClientCore::self() const {
    return {security_->identity(), security_->deviceId()};
}

void ClientCore::handleHelloAck(wex::ByteView payload) {
    clientLog(links_.isRelay() ? "← HelloAck (agent answered through the relay)"
                               : "← HelloAck (agent answered on the local network)");
    watchdogs_.reached();

    wex::HelloAck ack;
    try {
        ack = wex::HelloAck::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    std::string agentId;
    const auto verdict = handshake_.check(ack, self(), links_.isRelay() ? links_.relayRoom() : std::string(), agentId);
    if (verdict == Verdict::ignored) return;
    agentCaps_ = ack.capabilities;
    agentCapsPresent_ = ack.capabilitiesPresent;

    switch (verdict) {
    case Verdict::foreignDeviceId:
        clientLog("✗ HelloAck: deviceId is not derived from staticPub - refusing");
        setStatus(texts::statusFailedVerification);
        // Counts as a failure of the link: its state handler re-dials.
        links_.cancel();
        return;
    case Verdict::roomNotOwned:
        clientLog("✗ HelloAck: answered by a key that does not own room " + links_.relayRoom() + " - refusing");
        rejectAndHalt(std::string(texts::roomNotOwned), texts::statusFailedVerification);
        return;
    case Verdict::tampered:
        agentRoom_ = agentId;
        rejectAndHalt(std::string(texts::tampered), texts::statusChanbind);
        return;
    case Verdict::ignored:
    case Verdict::accepted: break;
    }
    agentRoom_ = agentId;
    // On the local network whatever holds the address answers: an unpair tells only its own machine.
    if (unpair_.dialled() && !unpair_.isFor(agentRoom_)) {
        unpairCannotTell("another machine answered at " + links_.host());
        return;
    }
    decideAuth();
}

void ClientCore::decideAuth() {
    // A machine whose agent has forgotten our key is answered with the code even though we still
    // trust its key; the trust stays until a code-proven session replaces it.
    const bool keyTrusted = security_->trustedAgent(agentRoom_).has_value();
    const bool codeRequired = codeRequired_.contains(agentRoom_);
    const auto code = knownCode();
    clientLog("decideAuth room=" + agentRoom_ + " trusted=" + (keyTrusted && !codeRequired ? "true" : "false") +
              " haveCode=" + (code ? "true" : "false"));
    const Machine::Proof proof = Machine::choose({keyTrusted, codeRequired, code.has_value()});
    // An unpair proves itself by key or not at all: an agent that no longer knows the key is not asked
    // for a code.
    if (proof != Machine::Proof::key && unpair_.dialled()) {
        // It asked for the code before: it has forgotten this computer already.
        unpairCannotTell("the agent would need the pairing code", UnpairOutcome::alreadyForgotten);
        return;
    }
    switch (proof) {
    case Machine::Proof::key: sendAuth(handshake_.keyAuth(security_->identity())); return;
    case Machine::Proof::code: sendAuth(handshake_.codeAuth(normalizedPairingCode(*code))); return;
    case Machine::Proof::askForCode:
        // Nothing to prove ourselves with: the attempt stops here, and the code comes with a new one.
        // A link held open meanwhile would only be dialled again whenever the agent drops it (as it
        // does for any newer connection, a reachability probe's included), in circles.
        haltReconnect();
        watchdogs_.stopHandshake();
        setPhase(Phase::of(PhaseKind::needsCode));
        setStatus(texts::statusEnterCode);
        return;
    }
}

void ClientCore::sendAuth(const std::optional<wex::Auth>& auth) {
    if (!auth) return;
    setPhase(Phase::of(PhaseKind::handshaking));
    sendPlain(wex::ControlType::auth, auth->encode());
}

void ClientCore::handleAuthOk(wex::ByteView payload) {
    wex::AuthOk ok;
    try {
        ok = wex::AuthOk::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    switch (handshake_.check(ok, security_->trustedAgent(agentRoom_))) {
    case Machine::OkVerdict::ignored: return;
    case Machine::OkVerdict::badProof: setStatus(texts::statusFailedVerification); return;
    case Machine::OkVerdict::keyChanged:
        rejectAndHalt(std::string(texts::identityChanged), texts::statusKeyMismatch);
        return;
    case Machine::OkVerdict::established: break;
    }

    watchdogs_.handshakeDone();
    session_ = handshake_.openSession();
    dispatch_.sessionStarted();
    sessionId_ = ok.sessionId;
    // Frame identifiers, the agent's clock and the picture chain all start afresh with a session.
    lastVideoFrameId_ = 0;
    reasm_.clear();
    decoder_->reset();
    agentClock_.clear();
    publishedSize_ = {0, 0};
    liveness_.sessionStarted(clock_.now());
    security_->trustAgent(handshake_.agentPub(), agentRoom_);
    codeRequired_.erase(agentRoom_);
    enteredCode_.reset();
    sessionSeen_ = true;

    setStatus(texts::statusPaired);
    pictureRefused_ = false;
    slowLink_.sessionStarted(clock_.now());
    linkTooSlowShown_ = false;
    post([id = QString::fromStdString(agentRoom_), relay = links_.isRelay(),
          port = links_.isRelay() ? 0 : static_cast<int>(links_.boundVideoPort())](WEXClient& c) {
        c.publishReconnecting(false);
        c.publishAgentDeviceId(id);
        c.publishSessionWay(relay, port);
        c.publishPictureRefusal({});
        c.publishLinkTooSlow(false);
    });
    // The input session opens, and the main thread hears of it, before the phase shows the session:
    // whoever sees it connected can type into it, and the services that start with it already run.
    const bool unpairing = unpair_.isFor(agentRoom_);
    if (!unpairing) beginInputSession();
    setPhase(Phase::of(PhaseKind::connected));

    if (unpairing) {
        // The unpair flow: tell the agent, forget it here, and end the session.
        sendControlSecure({}, wex::ControlType::unpair);
        unpair_.told();
        soon([this] { disconnect(); });
        return;
    }
    sendKeyframeRequest();
    startPing();
}

void ClientCore::handleAuthFail(wex::ByteView payload) {
    const Machine::Fail fail = Machine::refusal(payload);
    clientLog("← authFail reason=" + std::to_string(fail.reason) + " msg=" + wex::logText(fail.message));
    if (unpair_.dialled()) {
        haltReconnect();
        watchdogs_.stopHandshake();
        if (fail.refusal == Machine::Refusal::busy) {
            clientLog("unpair: the agent is still in a session — dialling again");
            unpair_.busy();
            return;
        }
        unpairCannotTell("the agent refused this computer's key", fail.refusal == Machine::Refusal::notPaired
                                                                      ? UnpairOutcome::alreadyForgotten
                                                                      : UnpairOutcome::unanswered);
        return;
    }

    switch (fail.refusal) {
    case Machine::Refusal::busy:
        enteredCode_.reset();
        rejectAndHalt(fail.message.empty() ? std::string(texts::alreadyInUse) : fail.message, texts::statusBusy);
        return;
    case Machine::Refusal::notPaired:
        setStatus(texts::statusRepairing);
        if (!agentRoom_.empty()) codeRequired_.insert(agentRoom_);
        if (knownCode()) {
            // The next attempt proves itself with the code, after a pause.
            setPhase(Phase::of(PhaseKind::connecting));
            // The refused link is abandoned (its close is not a failure to react to) and dialled afresh.
            links_.restartAfter(repairRedialDelay);
        } else {
            // Nothing to prove ourselves with: ask for the code instead of dialling in circles.
            haltReconnect();
            watchdogs_.stopHandshake();
            setPhase(Phase::of(PhaseKind::needsCode));
            setStatus(texts::statusEnterCode);
        }
        return;
    case Machine::Refusal::final: {
        // Refused after proving itself with a code: the code was wrong.
        const RefusedPart part =
            handshakeStage() == HandshakeStage::sentPskAuth ? RefusedPart::code : RefusedPart::none;
        enteredCode_.reset();
        rejectAndHalt(fail.message.empty() ? std::string(texts::codeMismatch) : fail.message,
                      texts::statusRejected(fail.reason), part);
        return;
    }
    }
}

} // namespace dovrel::controller

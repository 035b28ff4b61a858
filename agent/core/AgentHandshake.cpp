// The agent's side of the WEX/1 handshake: the decisions are wex::AgentHandshakeMachine's; here they
// are carried out. Hello answered with HelloAck; Auth admitted (the sealed session and its services,
// a key paired by code) or refused after the machine's delay, whose answer and drop act only on the
// connection they were meant for, and only while it is still unauthenticated.

#include <cstdio>

#include "agent/common/AgentLog.h"
#include "agent/common/MonoClock.h"
#include "agent/core/Agent.h"
#include "protocol/Cap.h"
#include "protocol/EphemeralKey.h"
#include "protocol/SecureSession.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/WEXError.h"

namespace dovrel::agent {

namespace {

std::string twoDecimals(Duration wait) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::chrono::duration<double>(wait).count());
    return text;
}

// What a controller is told when it proves a code while pairing by code is paused.
constexpr const char* pausedAnswer = "That computer has stopped pairing by code after too many wrong codes. Make a "
                                     "new code in its DOVRELÆ window, then pair with the new code.";

const char* reasonName(const wex::AgentHandshakeMachine::Refuse& refusal) {
    if (refusal.backOff) return "backOff";
    return refusal.fail.reason == wex::AuthFailReason::notPaired ? "notPaired" : "badProof";
}

} // namespace

void Agent::handleHello(wex::ByteView payload) {
    transport_->queue().assertCurrent(__func__);
    if (handshake_.refused(transport_->currentClient())) return;
    wex::Hello hello;
    try {
        hello = wex::Hello::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    transport_->noteHandshake(AgentTransport::HandshakeStage::hello);

    const wex::EphemeralKey ephemeral;
    const wex::Bytes challenge = randomBytes(wex::AgentHandshakeMachine::challengeSize);
    const std::optional<wex::HelloAck> ack = handshake_.hello(hello, ephemeral, challenge, MonoClock::micros());
    if (!ack) return;
    strangerLines_.print("• HELLO from \"" + handshake_.pending()->clientName + "\" " + fingerprint(hello.staticPub));
    transport_->sendControl(ack->encode(), wex::ControlType::helloAck);
}

void Agent::handleAuth(wex::ByteView payload) {
    transport_->queue().assertCurrent(__func__);
    const AgentTransport::ClientId client = transport_->currentClient();
    if (handshake_.refused(client)) return;
    transport_->noteHandshake(AgentTransport::HandshakeStage::auth);
    wex::Auth auth;
    try {
        auth = wex::Auth::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    if (!handshake_.pending()) return;
    const bool paired = security_.isPaired(handshake_.pending()->clientStaticPub);
    const Instant now = clock().now();
    // Outside the time the code is shown or shared, and while guessing has paused pairing by code, no
    // code is in force: a guesser's proof is not even checked.
    const std::string code = pairingCode();
    const bool paused = codePause_.paused();
    const auto inForce =
        !paused && codeWindow_.counts(code, now) ? std::optional<std::string_view>(code) : std::nullopt;
    auto decision = handshake_.auth(auth, client, now, inForce, paired);
    if (auto* refusal = std::get_if<wex::AgentHandshakeMachine::Refuse>(&decision)) {
        // Whoever holds the right code is told what to do; a guesser learns only that guessing is over.
        if (paused && refusal->noCodeInForce) refusal->fail.message = pausedAnswer;
        refuse(*refusal);
        if (refusal->wrongCode) countWrongCode(now);
    } else if (auto* admission = std::get_if<wex::AgentHandshakeMachine::Admit>(&decision)) {
        if (admission->pairedByCode) pairByCode(admission->clientStaticPub);
        admit(*admission);
    }
}

void Agent::pairByCode(const wex::Bytes& clientStaticPub) {
    security_.pair(clientStaticPub);
    rotatePairingCode("• pairing code rotated after a successful pair - the old one is dead");
}

void Agent::rotatePairingCode(const std::string& logLine) {
    const std::string code = security_.rotatePairingCode();
    print(logLine);
    showCodeOnTerminal(code);
    // The shown share code carried the code that just died: a fresh one carries the new link.
    onMain([this] {
        refreshPairingURL();
        requestShareCode(true);
    });
}

void Agent::admit(const wex::AgentHandshakeMachine::Admit& admission) {
    transport_->sendControl(admission.ok.encode(), wex::ControlType::authOk); // the last plain frame
    transport_->establishSession(std::make_shared<wex::SecureSession>(admission.keys, wex::Direction::agentToClient),
                                 wex::AgentHandshakeMachine::sessionId);

    sessionPeerPub_ = admission.clientStaticPub;
    const uint32_t caps = admission.clientCaps;
    const char* method = admission.pairedByCode ? "paired via code" : "keypair";

    media_.sessionStarted(caps, transport_->clientIsRelay());

    if (wex::Cap::isMaintenance(caps)) {
        print(std::string("• AUTH OK (") + method + ") — maintenance connection, no session services started");
        return;
    }
    session_.start();
    quiet_.start();
    media_.startReports();
    print(std::string("• AUTH OK (") + method + ") — streaming ENCRYPTED");
    onMain([this, name = admission.clientName] { observer_->sessionChanged(SessionPhase::connected, name); });
}

void Agent::countWrongCode(Instant now) {
    if (!codePause_.wrongCode(transport_->clientIsRelay() ? std::string() : peerHost_, now)) return;
    std::vector<std::string> from = codePause_.addresses();
    std::string named;
    for (const std::string& address : from)
        named += (named.empty() ? "" : ", ") + (address.empty() ? std::string("the relay") : address);
    print("• pairing by code PAUSED after " + std::to_string(PairingPause::wrongCodesToPause) +
          " wrong codes within an hour (from " + named +
          ") — codes are refused unchecked until a new code is made in this computer's DOVRELÆ window; paired "
          "devices still connect by key");
    onMain([this, from = std::move(from)] { observer_->codePairingPaused(true, from); });
}

void Agent::refuse(const wex::AgentHandshakeMachine::Refuse& refusal) {
    if (refusal.rotateCode) {
        rotatePairingCode("• pairing code ROTATED after " + std::to_string(refusal.wrongCodes) +
                          " wrong codes — the old one is dead");
        // Whoever reads the code out to someone learns why it changed under them.
        onMain([this, code = pairingCode()] { observer_->codeDrawnAfterWrongCodes(code); });
    }
    if (refusal.noCodeInForce && codePause_.paused())
        refusalLines_.print("• pairing code refused unchecked — pairing by code is paused after too many wrong codes "
                            "until a new code is made in this computer's DOVRELÆ window");
    else if (refusal.noCodeInForce)
        refusalLines_.print(
            "• pairing code refused — a code pairs only while this computer's DOVRELÆ window shows it "
            "and for 10 minutes after, or while a share code hands it out; open the window here, then try "
            "again");
    refusalLines_.print(std::string("• AUTH REJECTED (") + reasonName(refusal) + ") for " +
                        fingerprint(refusal.clientStaticPub) + " — refusing in " + twoDecimals(refusal.delay) +
                        "s (streak " + std::to_string(refusal.streak) + ")");
    refusal_.answerLater(refusal.fail.encode(), refusal.delay);
}

} // namespace dovrel::agent

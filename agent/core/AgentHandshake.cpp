// The agent's side of the WEX/1 handshake: Hello answered with HelloAck, Auth checked (a signature by a
// paired key, or a proof of the pairing code, which pairs the key), then the sealed session or a refusal
// after a delay that grows with each refusal.
//
// Refusals slow down guessing of the pairing code for real: the delay of the last refusal is a gate for
// the whole agent, not for one connection. A pairing-code proof that arrives while the gate is closed is
// refused without being checked (and without counting as a wrong code), so opening fresh connections
// gains nothing; a refused connection gets no further handshake; the delayed answer and the drop act
// only on the connection they were meant for, and only while it is still unauthenticated. Signature
// proofs are always checked: they cannot be guessed, and a guesser must not lock paired devices out.

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "agent/common/AgentLog.h"
#include "agent/common/MonoClock.h"
#include "agent/core/Agent.h"
#include "protocol/Cap.h"
#include "protocol/ControlMessages.h"
#include "protocol/EphemeralKey.h"
#include "protocol/Hex.h"
#include "protocol/LogText.h"
#include "protocol/PairingCode.h"
#include "protocol/SecureSession.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/WEXError.h"
#include "protocol/WEXHandshake.h"

namespace dovrel::agent {

using namespace std::chrono_literals;

namespace {

constexpr uint32_t agentSessionId = 1;
constexpr auto dropAfterRefusal = 200ms;

std::string twoDecimals(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", seconds);
    return text;
}

const char* reasonName(wex::AuthFailReason reason) {
    return reason == wex::AuthFailReason::notPaired ? "notPaired" : "badProof";
}

template <std::size_t N> wex::Bytes bytesOf(const wex::FixedBytes<N>& b) { return wex::Bytes(b.begin(), b.end()); }

} // namespace

void Agent::handleHello(wex::ByteView payload) {
    transport_->queue().assertCurrent(__func__);
    if (transport_->currentClient() == refusedClient_) return;
    wex::Hello hello;
    try {
        hello = wex::Hello::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    transport_->noteHandshake(AgentTransport::HandshakeStage::hello);

    const wex::EphemeralKey ephemeral;
    const wex::Bytes challenge = randomBytes(wex::WEXHandshake::challengeSize);
    const wex::Bytes chanbind = wex::WEXHandshake::channelBinding(hello.ephPub, ephemeral.publicKey());
    std::optional<wex::SessionKeys> keys;
    try {
        const auto shared = ephemeral.sharedSecret(hello.ephPub);
        keys = wex::SessionKeys::derive(shared.view(), hello.ephPub, ephemeral.publicKey());
    } catch (const wex::CryptoError&) {
        return; // a client key that agrees on nothing: no answer, the deadline ends the connection
    }
    pending_ = Pending{bytesOf(hello.staticPub),
                       bytesOf(hello.deviceId),
                       *keys,
                       challenge,
                       chanbind,
                       bytesOf(hello.ephPub),
                       bytesOf(ephemeral.publicKey()),
                       hello.capabilitiesPresent ? hello.capabilities : wex::Cap::assumedWhenAbsent,
                       wex::logText(hello.deviceName)};
    strangerLines_.print("• HELLO from \"" + pending_->clientName + "\" " + fingerprint(hello.staticPub));

    const auto& ours = security_.identity().publicKey();
    wex::HelloAck ack;
    ack.reqId = hello.reqId;
    ack.protoSelected = 1;
    std::copy_n(ours.begin(), ack.deviceId.size(), ack.deviceId.begin());
    ack.staticPub = ours;
    ack.ephPub = ephemeral.publicKey();
    std::copy(challenge.begin(), challenge.end(), ack.challenge.begin());
    ack.agentTimeUs = MonoClock::micros();
    std::copy(chanbind.begin(), chanbind.end(), ack.chanbind.begin());
    ack.capabilities = wex::Cap::wakeProxy;
    ack.capabilitiesPresent = true;
    transport_->sendControl(ack.encode(), wex::ControlType::helloAck);
}

void Agent::handleAuth(wex::ByteView payload) {
    transport_->queue().assertCurrent(__func__);
    if (transport_->currentClient() == refusedClient_) return;
    transport_->noteHandshake(AgentTransport::HandshakeStage::auth);
    wex::Auth auth;
    try {
        auth = wex::Auth::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    if (!pending_) return;
    const Pending pending = *pending_;
    const auto& ours = security_.identity().publicKey();
    const wex::Bytes transcript =
        wex::WEXHandshake::transcript(pending.clientDeviceId, pending.clientStaticPub, ours, pending.challenge,
                                      pending.clientEphPub, pending.agentEphPub);

    if (auth.authMode == wex::AuthMode::psk) {
        if (codeGateUntil_ && clock().now() < *codeGateUntil_) {
            refuseDuringBackOff(pending, auth.reqId);
            return;
        }
        const auto psk = wex::pairingCodeKey(pairingCode());
        if (!wex::WEXHandshake::verifyPskProof(auth.proof, psk, transcript, pending.chanbind)) {
            ++authFailStreak_;
            ++wrongCodeCount_;
            if (wrongCodeCount_ % 5 == 0) {
                rotatePairingCode();
                print("• pairing code ROTATED after " + std::to_string(wrongCodeCount_) +
                      " wrong codes — the old one is dead");
                onMain([this] { refreshPairingURL(); });
            }
            refuse(pending, auth.reqId, wex::AuthFailReason::badProof, true);
            return;
        }
        security_.pair(pending.clientStaticPub);
        rotatePairingCode();
        print("• pairing code rotated after a successful pair - the old one is dead");
        // The shown share code carried the code that just died: a fresh one carries the new link.
        onMain([this] {
            refreshPairingURL();
            if (accounts_ && !transport_->relayIdentity().account.empty()) accounts_->createShareCode(true);
        });
        admit(pending, auth.reqId, transcript, "paired via code");
        return;
    }

    if (!wex::WEXHandshake::verifyClientProof(auth.proof, pending.clientStaticPub, transcript, pending.chanbind)) {
        refuse(pending, auth.reqId, wex::AuthFailReason::badProof, false);
        return;
    }
    if (!security_.isPaired(pending.clientStaticPub)) {
        refuse(pending, auth.reqId, wex::AuthFailReason::notPaired, false);
        return;
    }
    admit(pending, auth.reqId, transcript, "keypair");
}

void Agent::admit(const Pending& pending, uint16_t reqId, const wex::Bytes& transcript, const char* method) {
    authFailStreak_ = 0;
    codeGateUntil_.reset();

    wex::AuthOk ok;
    ok.reqId = reqId;
    ok.sessionId = agentSessionId;
    const wex::Bytes proof = wex::WEXHandshake::agentProof(security_.identity(), transcript, pending.chanbind);
    std::copy_n(proof.begin(), std::min(proof.size(), ok.agentProof.size()), ok.agentProof.begin());
    ok.resumeToken = 0;
    ok.heartbeatMs = 2000;
    ok.idleTimeoutMs = 8000;
    transport_->sendControl(ok.encode(), wex::ControlType::authOk); // the last plain frame
    transport_->establishSession(std::make_shared<wex::SecureSession>(pending.keys, wex::Direction::agentToClient),
                                 agentSessionId);

    sessionPeerPub_ = pending.clientStaticPub;
    pending_.reset();
    sessionCaps_ = pending.clientCaps;
    const uint32_t caps = sessionCaps_;

    if (pipeline_) {
        const bool h264 = pipeline_->defaultH264() || (caps & wex::Cap::h264Only) != 0;
        if (h264 != useH264_) {
            useH264_ = h264;
            pipeline_->rebuildEncoder(h264, h264 ? "this client cannot decode HEVC" : "back to HEVC for this client");
        }
        pipeline_->applyLinkBudget(transport_->clientIsRelay());
    }
    const bool video = (caps & wex::Cap::video) != 0;
    streaming_ = video;
    if (!video) print("• client is input-only (no VIDEO capability) — not capturing");
    if (video && pipeline_ && pipeline_->resting())
        leaveRestForStreaming();
    else if (pipeline_)
        pipeline_->requestKeyframe();

    if (wex::Cap::isMaintenance(caps)) {
        print(std::string("• AUTH OK (") + method + ") — maintenance connection, no session services started");
        return;
    }
    clipboard_->start();
    clipFiles_->start();
    if (pipeline_) pipeline_->startSessionReports();
    print(std::string("• AUTH OK (") + method + ") — streaming ENCRYPTED");
    onMain([this, name = pending.clientName] { observer_->sessionChanged(SessionPhase::connected, name); });
}

void Agent::refuse(const Pending& pending, uint16_t reqId, wex::AuthFailReason reason, bool streakCounted) {
    if (!streakCounted) ++authFailStreak_;
    const int n = authFailStreak_;
    const double delay = std::min(0.25 * std::pow(2.0, std::min(n - 1, 16)), 5.0);
    refusalLines_.print(std::string("• AUTH REJECTED (") + reasonName(reason) + ") for " +
                        fingerprint(pending.clientStaticPub) + " — refusing in " + twoDecimals(delay) + "s (streak " +
                        std::to_string(n) + ")");
    pending_.reset();
    const auto wait = std::chrono::duration_cast<Duration>(std::chrono::duration<double>(delay));
    const Instant until = clock().now() + wait;
    codeGateUntil_ = codeGateUntil_ ? std::max(*codeGateUntil_, until) : until;
    answerRefusalLater(wex::AuthFail{reqId, reason, ""}.encode(), wait);
}

void Agent::refuseDuringBackOff(const Pending& pending, uint16_t reqId) {
    const Duration wait = *codeGateUntil_ - clock().now();
    refusalLines_.print("• AUTH REJECTED (backOff) for " + fingerprint(pending.clientStaticPub) + " — refusing in " +
                        twoDecimals(std::chrono::duration<double>(wait).count()) + "s (streak " +
                        std::to_string(authFailStreak_) + ")");
    pending_.reset();
    answerRefusalLater(wex::AuthFail{reqId, wex::AuthFailReason::unknown,
                                     "Too many wrong pairing codes — wait a few seconds, then try again."}
                           .encode(),
                       wait);
}

void Agent::answerRefusalLater(wex::Bytes authFail, Duration delay) {
    const AgentTransport::ClientId client = transport_->currentClient();
    refusedClient_ = client;
    refusalDropTimer_.reset();
    refusalTimer_ = clock().after(delay, [this, client, authFail = std::move(authFail)] {
        if (transport_->currentClient() != client || transport_->hasSession()) return;
        transport_->sendControl(authFail, wex::ControlType::authFail);
        refusalDropTimer_ = clock().after(dropAfterRefusal, [this, client] {
            if (transport_->currentClient() == client && !transport_->hasSession()) transport_->dropClient();
        });
    });
}

std::string Agent::rotatePairingCode() {
    const std::lock_guard guard(codeLock_);
    security_.setPairingCode(SecurityStore::newPairingCode());
    return security_.pairingCode();
}

} // namespace dovrel::agent

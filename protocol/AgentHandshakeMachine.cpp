#include "protocol/AgentHandshakeMachine.h"

#include <algorithm>
#include <cmath>

#include "protocol/Cap.h"
#include "protocol/Crypto.h"
#include "protocol/LogText.h"
#include "protocol/PairingCode.h"
#include "protocol/WEXHandshake.h"

namespace wex {

namespace {

template <std::size_t N> Bytes bytesOf(const FixedBytes<N>& b) { return Bytes(b.begin(), b.end()); }

} // namespace

AgentHandshakeMachine::Duration AgentHandshakeMachine::refusalDelay(int n) {
    const double seconds = std::min(0.25 * std::pow(2.0, std::min(n - 1, 16)), 5.0);
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
}

std::optional<HelloAck> AgentHandshakeMachine::hello(const Hello& hello, const EphemeralKey& ephemeral,
                                                     ByteView challenge, uint64_t agentTimeUs) {
    std::optional<SessionKeys> keys;
    try {
        const auto shared = ephemeral.sharedSecret(hello.ephPub);
        keys = SessionKeys::derive(shared.view(), hello.ephPub, ephemeral.publicKey());
    } catch (const CryptoError&) {
        return std::nullopt; // no answer: the transport's deadline ends the connection
    }
    const Bytes chanbind = WEXHandshake::channelBinding(hello.ephPub, ephemeral.publicKey());
    pending_ = Pending{bytesOf(hello.staticPub),
                       bytesOf(hello.deviceId),
                       *keys,
                       Bytes(challenge.begin(), challenge.end()),
                       chanbind,
                       bytesOf(hello.ephPub),
                       bytesOf(ephemeral.publicKey()),
                       hello.capabilitiesPresent ? hello.capabilities : Cap::assumedWhenAbsent,
                       logText(hello.deviceName)};

    const auto& ours = identity_.publicKey();
    HelloAck ack;
    ack.reqId = hello.reqId;
    ack.protoSelected = 1;
    std::copy_n(ours.begin(), std::min(ours.size(), ack.deviceId.size()), ack.deviceId.begin());
    ack.staticPub = ours;
    ack.ephPub = ephemeral.publicKey();
    std::copy_n(challenge.begin(), std::min(challenge.size(), ack.challenge.size()), ack.challenge.begin());
    ack.agentTimeUs = agentTimeUs;
    std::copy_n(chanbind.begin(), std::min(chanbind.size(), ack.chanbind.size()), ack.chanbind.begin());
    ack.capabilities = Cap::wakeProxy;
    ack.capabilitiesPresent = true;
    return ack;
}

AgentHandshakeMachine::AuthDecision AgentHandshakeMachine::auth(const Auth& auth, ClientId client, Time now,
                                                                std::optional<std::string_view> pairingCode,
                                                                bool clientPaired) {
    if (!pending_) return Ignore{};
    Pending pending = std::move(*pending_);
    pending_.reset();
    const Bytes transcript =
        WEXHandshake::transcript(pending.clientDeviceId, pending.clientStaticPub, identity_.publicKey(),
                                 pending.challenge, pending.clientEphPub, pending.agentEphPub);

    if (auth.authMode == AuthMode::psk) {
        if (codeGateUntil_ && now < *codeGateUntil_) {
            Refuse r;
            r.fail = AuthFail{auth.reqId, AuthFailReason::unknown,
                              "Too many wrong pairing codes — wait a few seconds, then try again."};
            r.delay = *codeGateUntil_ - now;
            r.clientStaticPub = std::move(pending.clientStaticPub);
            r.streak = streak_;
            r.backOff = true;
            r.wrongCodes = wrongCodes_;
            refusedClient_ = client;
            return r;
        }
        if (!pairingCode) {
            // Answered like a wrong code, and paced like one, without telling a guesser why; it does not
            // count against the code, which nobody tried.
            Refuse r = refuse(std::move(pending), auth.reqId, AuthFailReason::badProof, client, now);
            r.noCodeInForce = true;
            return r;
        }
        if (!WEXHandshake::verifyPskProof(auth.proof, pairingCodeKey(*pairingCode), transcript, pending.chanbind)) {
            ++wrongCodes_; // counted against the code itself, across connections
            Refuse r = refuse(std::move(pending), auth.reqId, AuthFailReason::badProof, client, now);
            r.wrongCode = true;
            r.rotateCode = wrongCodes_ % wrongCodesPerCode == 0;
            return r;
        }
        return admit(pending, auth.reqId, transcript, true);
    }
    if (!WEXHandshake::verifyClientProof(auth.proof, pending.clientStaticPub, transcript, pending.chanbind))
        return refuse(std::move(pending), auth.reqId, AuthFailReason::badProof, client, now);
    if (!clientPaired) return refuse(std::move(pending), auth.reqId, AuthFailReason::notPaired, client, now);
    return admit(pending, auth.reqId, transcript, false);
}

AgentHandshakeMachine::Admit AgentHandshakeMachine::admit(const Pending& pending, uint16_t reqId, ByteView transcript,
                                                          bool byCode) {
    streak_ = 0;
    codeGateUntil_.reset();
    Admit a;
    a.ok.reqId = reqId;
    a.ok.sessionId = sessionId;
    const Bytes proof = WEXHandshake::agentProof(identity_, transcript, pending.chanbind);
    std::copy_n(proof.begin(), std::min(proof.size(), a.ok.agentProof.size()), a.ok.agentProof.begin());
    a.ok.resumeToken = 0;
    a.ok.heartbeatMs = 2000;
    a.ok.idleTimeoutMs = 8000;
    a.keys = pending.keys;
    a.clientStaticPub = pending.clientStaticPub;
    a.clientCaps = pending.clientCaps;
    a.clientName = pending.clientName;
    a.pairedByCode = byCode;
    return a;
}

AgentHandshakeMachine::Refuse AgentHandshakeMachine::refuse(Pending pending, uint16_t reqId, AuthFailReason reason,
                                                            ClientId client, Time now) {
    ++streak_;
    Refuse r;
    r.fail = AuthFail{reqId, reason, ""};
    r.delay = refusalDelay(streak_);
    r.clientStaticPub = std::move(pending.clientStaticPub);
    r.streak = streak_;
    r.wrongCodes = wrongCodes_;
    const Time until = now + r.delay;
    codeGateUntil_ = codeGateUntil_ ? std::max(*codeGateUntil_, until) : until;
    refusedClient_ = client;
    return r;
}

} // namespace wex

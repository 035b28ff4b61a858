#include <chrono>
#include <variant>

#include <gtest/gtest.h>

#include "protocol/AgentHandshakeMachine.h"
#include "protocol/Cap.h"
#include "protocol/Crypto.h"
#include "protocol/PairingCode.h"
#include "protocol/WEXHandshake.h"

using namespace wex;
using namespace std::chrono_literals;
using Machine = AgentHandshakeMachine;

namespace {

// One controller's side of a handshake against the machine: its Hello, then the transcript the
// HelloAck gives it, from which it proves with its key or a pairing code.
struct Client {
    DeviceIdentity identity;
    EphemeralKey eph;
    HelloAck ack;

    Hello hello(bool withCaps = true) const {
        Hello h;
        h.reqId = 7;
        std::copy_n(identity.publicKey().begin(), h.deviceId.size(), h.deviceId.begin());
        h.staticPub = identity.publicKey();
        h.ephPub = eph.publicKey();
        h.deviceName = "Phone\x01";
        h.capabilitiesPresent = withCaps;
        h.capabilities = Cap::video | Cap::h264Only;
        return h;
    }
    Bytes transcript() const {
        const Hello h = hello();
        return WEXHandshake::transcript(h.deviceId, h.staticPub, ack.staticPub, ack.challenge, h.ephPub, ack.ephPub);
    }
    Auth keyAuth() const {
        Auth a;
        a.reqId = 8;
        const Bytes proof = WEXHandshake::clientProof(identity, transcript(), ack.chanbind);
        std::copy(proof.begin(), proof.end(), a.proof.begin());
        return a;
    }
    Auth codeAuth(const std::string& code) const {
        Auth a;
        a.reqId = 9;
        a.authMode = AuthMode::psk;
        const Bytes proof = WEXHandshake::pskProof(pairingCodeKey(code), transcript(), ack.chanbind);
        std::copy(proof.begin(), proof.end(), a.proof.begin());
        return a;
    }
};

struct Rig {
    DeviceIdentity agent;
    Machine machine{agent};
    Machine::Time now{};

    void hello(Client& c) {
        const EphemeralKey eph;
        const auto ack = machine.hello(c.hello(), eph, Crypto::randomBytes(Machine::challengeSize), 42);
        ASSERT_TRUE(ack);
        c.ack = *ack;
    }
    Machine::AuthDecision auth(const Auth& a, bool paired = false, const std::string& code = "123456") {
        return machine.auth(a, 1, now, code, paired);
    }
    Machine::Refuse refusal(const Auth& a, bool paired = false) {
        auto d = auth(a, paired);
        EXPECT_TRUE(std::holds_alternative<Machine::Refuse>(d));
        return std::holds_alternative<Machine::Refuse>(d) ? std::get<Machine::Refuse>(d) : Machine::Refuse{};
    }
};

} // namespace

TEST(AgentHandshakeMachine, AHelloIsAnsweredWithTheAgentsKeysAndKeptForTheAuth) {
    Rig r;
    Client c;
    const EphemeralKey eph;
    const Bytes challenge = Crypto::randomBytes(Machine::challengeSize);
    const auto ack = r.machine.hello(c.hello(false), eph, challenge, 42);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->reqId, 7);
    EXPECT_EQ(ack->protoSelected, 1);
    EXPECT_TRUE(std::equal(ack->deviceId.begin(), ack->deviceId.end(), r.agent.publicKey().begin()));
    EXPECT_EQ(ack->staticPub, r.agent.publicKey());
    EXPECT_EQ(ack->ephPub, eph.publicKey());
    EXPECT_EQ(Bytes(ack->challenge.begin(), ack->challenge.end()), challenge);
    EXPECT_EQ(ack->agentTimeUs, 42u);
    EXPECT_EQ(Bytes(ack->chanbind.begin(), ack->chanbind.end()),
              WEXHandshake::channelBinding(c.eph.publicKey(), eph.publicKey()));
    EXPECT_EQ(ack->capabilities, Cap::wakeProxy);
    ASSERT_TRUE(r.machine.pending());
    EXPECT_EQ(r.machine.pending()->clientCaps, Cap::assumedWhenAbsent) << "no capability bytes";
    EXPECT_EQ(r.machine.pending()->clientName, "Phone?");

    // A client key that agrees on nothing gets no answer, and the handshake in progress stays.
    Hello bad = c.hello();
    bad.ephPub = {};
    EXPECT_FALSE(r.machine.hello(bad, EphemeralKey(), challenge, 43));
    ASSERT_TRUE(r.machine.pending());
    EXPECT_EQ(r.machine.pending()->agentEphPub, Bytes(eph.publicKey().begin(), eph.publicKey().end()));
}

TEST(AgentHandshakeMachine, APairedKeyIsAdmittedAnUnpairedOrForgedOneRefused) {
    Rig r;
    Client c;
    EXPECT_TRUE(std::holds_alternative<Machine::Ignore>(r.auth(c.keyAuth(), true))) << "no Hello answered";

    r.hello(c);
    auto forged = c.keyAuth();
    forged.proof[3] ^= 1;
    const auto bad = r.refusal(forged, true);
    EXPECT_EQ(bad.fail, (AuthFail{8, AuthFailReason::badProof, ""}));
    EXPECT_FALSE(r.machine.pending()) << "a refusal ends the handshake";
    EXPECT_TRUE(r.machine.refused(1));
    EXPECT_FALSE(r.machine.refused(2));

    r.hello(c);
    EXPECT_EQ(r.refusal(c.keyAuth(), false).fail.reason, AuthFailReason::notPaired);

    r.hello(c);
    const auto d = r.auth(c.keyAuth(), true);
    ASSERT_TRUE(std::holds_alternative<Machine::Admit>(d));
    const auto& admit = std::get<Machine::Admit>(d);
    EXPECT_EQ(admit.ok.reqId, 8);
    EXPECT_EQ(admit.ok.sessionId, 1u);
    EXPECT_EQ(admit.ok.resumeToken, 0u);
    EXPECT_EQ(admit.ok.heartbeatMs, 2000);
    EXPECT_EQ(admit.ok.idleTimeoutMs, 8000);
    EXPECT_TRUE(
        WEXHandshake::verifyAgentProof(admit.ok.agentProof, r.agent.publicKey(), c.transcript(), c.ack.chanbind));
    EXPECT_EQ(admit.clientCaps, Cap::video | Cap::h264Only);
    EXPECT_FALSE(admit.pairedByCode);
    EXPECT_EQ(r.machine.streak(), 0);
}

TEST(AgentHandshakeMachine, EachRefusalWaitsLongerUpToFiveSecondsAndASuccessStartsOver) {
    Rig r;
    Client c;
    const std::vector<Machine::Duration> waits = {250ms, 500ms, 1s, 2s, 4s, 5s, 5s};
    for (std::size_t i = 0; i < waits.size(); ++i) {
        r.hello(c);
        const auto refusal = r.refusal(c.keyAuth(), false);
        EXPECT_EQ(refusal.delay, waits[i]) << "refusal " << i + 1;
        EXPECT_EQ(refusal.streak, static_cast<int>(i + 1));
        r.now += 10s;
    }
    r.hello(c);
    ASSERT_TRUE(std::holds_alternative<Machine::Admit>(r.auth(c.keyAuth(), true)));
    r.hello(c);
    EXPECT_EQ(r.refusal(c.keyAuth(), false).delay, 250ms);
}

TEST(AgentHandshakeMachine, EveryFifthWrongCodeRotatesAndCodesWaitOutTheLastRefusal) {
    Rig r;
    Client c;
    for (int i = 1; i <= 5; ++i) {
        r.hello(c);
        const auto refusal = r.refusal(c.codeAuth("000000"));
        EXPECT_EQ(refusal.fail.reason, AuthFailReason::badProof);
        EXPECT_TRUE(refusal.wrongCode);
        EXPECT_EQ(refusal.rotateCode, i == 5) << "wrong code " << i;
        EXPECT_EQ(refusal.wrongCodes, i);
        r.now += refusal.delay;
    }
    // While the last refusal's wait runs, a code is refused unchecked (even the right one) for the rest
    // of the wait, and does not count as wrong; a key proof is still checked.
    r.hello(c);
    r.refusal(c.codeAuth("000000"));
    r.now += 1s;
    r.hello(c);
    const auto gated = r.refusal(c.codeAuth("123456"));
    EXPECT_TRUE(gated.backOff);
    EXPECT_FALSE(gated.wrongCode);
    EXPECT_EQ(gated.fail.reason, AuthFailReason::unknown);
    EXPECT_FALSE(gated.fail.message.empty());
    EXPECT_EQ(gated.delay, 4s);
    EXPECT_EQ(gated.wrongCodes, 6);
    EXPECT_EQ(gated.streak, 6);
    r.hello(c);
    EXPECT_TRUE(std::holds_alternative<Machine::Admit>(r.auth(c.keyAuth(), true)));

    // The right code once the gate is open pairs the key.
    r.hello(c);
    r.now += 4s;
    const auto d = r.auth(c.codeAuth("123456"));
    ASSERT_TRUE(std::holds_alternative<Machine::Admit>(d));
    EXPECT_TRUE(std::get<Machine::Admit>(d).pairedByCode);
    EXPECT_EQ(std::get<Machine::Admit>(d).clientStaticPub,
              Bytes(c.identity.publicKey().begin(), c.identity.publicKey().end()));
}

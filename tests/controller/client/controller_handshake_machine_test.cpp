#include <algorithm>

#include <gtest/gtest.h>

#include "protocol/Cap.h"
#include "protocol/ControllerHandshakeMachine.h"
#include "protocol/Hex.h"
#include "protocol/PairingCode.h"
#include "protocol/WEXHandshake.h"

using HandshakeState = wex::ControllerHandshakeMachine;
using HandshakeStage = HandshakeState::Stage;
using Verdict = HandshakeState::AckVerdict;

namespace {

// An agent's HelloAck to the Hello that carried `clientEph`, as the real agent makes it.
struct Agent {
    wex::DeviceIdentity identity;
    wex::EphemeralKey eph;
    wex::HelloAck ack(wex::ByteView clientEph) const {
        wex::HelloAck a;
        a.staticPub = identity.publicKey();
        std::copy_n(a.staticPub.begin(), a.deviceId.size(), a.deviceId.begin());
        a.ephPub = eph.publicKey();
        a.challenge.fill(7);
        const wex::Bytes bind = wex::WEXHandshake::channelBinding(clientEph, a.ephPub);
        std::copy(bind.begin(), bind.end(), a.chanbind.begin());
        return a;
    }
    std::string id() const { return wex::deviceIdOfKey(identity.publicKey()); }
};

struct HandshakeStateTest : ::testing::Test {
    wex::DeviceIdentity me;
    wex::Bytes myId = wex::Bytes(16, 3);
    HandshakeState::Self self{me, idOf(myId)};
    Agent agent;
    HandshakeState state;
    std::string agentId;

    static wex::FixedBytes<16> idOf(const wex::Bytes& bytes) {
        wex::FixedBytes<16> id{};
        std::copy_n(bytes.begin(), id.size(), id.begin());
        return id;
    }
    const wex::EphemeralKey::PublicKey& newEphemeralKey() {
        hello = state.hello(self, "me", wex::Cap::screenClient, true, wex::AuthMode::keypair);
        return hello.ephPub;
    }
    wex::Hello hello;
};

} // namespace

TEST_F(HandshakeStateTest, NothingIsAnsweredBeforeAHelloOrAnAcceptedAck) {
    EXPECT_EQ(state.check(agent.ack(wex::Bytes(32, 0)), self, {}, agentId), Verdict::ignored);
    EXPECT_FALSE(state.keyAuth(me));
    EXPECT_EQ(state.stage(), HandshakeStage::sentKeypairAuth);
    EXPECT_FALSE(state.codeAuth("123456"));
    EXPECT_EQ(state.stage(), HandshakeStage::sentPskAuth);
    EXPECT_EQ(state.check(wex::AuthOk{}), HandshakeState::OkVerdict::ignored);
    state.restart();
    EXPECT_EQ(state.stage(), HandshakeStage::dialing);
}

TEST_F(HandshakeStateTest, EachForgedAckIsNamed) {
    const auto& key = newEphemeralKey();
    const wex::Bytes eph(key.begin(), key.end());
    wex::HelloAck foreign = agent.ack(eph);
    foreign.deviceId[0] ^= 1;
    EXPECT_EQ(state.check(foreign, self, {}, agentId), Verdict::foreignDeviceId);
    EXPECT_EQ(state.check(agent.ack(eph), self, std::string(32, 'a'), agentId), Verdict::roomNotOwned);
    wex::HelloAck tampered = agent.ack(eph);
    tampered.chanbind[5] ^= 1;
    EXPECT_EQ(state.check(tampered, self, {}, agentId), Verdict::tampered);
    EXPECT_EQ(agentId, agent.id());
    EXPECT_FALSE(state.keyAuth(me)); // nothing of a refused answer is kept
}

TEST_F(HandshakeStateTest, AnAcceptedAckIsAnsweredWithAProofAndOnlyTheAgentsKeyProvesAuthOk) {
    const auto& key = newEphemeralKey();
    const wex::Bytes eph(key.begin(), key.end());
    const wex::HelloAck ack = agent.ack(eph);
    // The room through the relay is compared without regard to letter case.
    std::string room = agent.id();
    std::transform(room.begin(), room.end(), room.begin(), ::toupper);
    ASSERT_EQ(state.check(ack, self, room, agentId), Verdict::accepted);
    EXPECT_EQ(state.agentPub(), wex::Bytes(ack.staticPub.begin(), ack.staticPub.end()));

    const auto auth = state.keyAuth(me);
    ASSERT_TRUE(auth);
    EXPECT_EQ(auth->authMode, wex::AuthMode::keypair);
    const wex::Bytes transcript =
        wex::WEXHandshake::transcript(myId, me.publicKey(), ack.staticPub, ack.challenge, eph, ack.ephPub);
    const wex::Bytes bind(ack.chanbind.begin(), ack.chanbind.end());
    EXPECT_TRUE(wex::WEXHandshake::verifyClientProof(auth->proof, me.publicKey(), transcript, bind));

    wex::AuthOk ok;
    EXPECT_EQ(state.check(ok), HandshakeState::OkVerdict::badProof);
    const wex::Bytes proof = wex::WEXHandshake::agentProof(agent.identity, transcript, bind);
    std::copy(proof.begin(), proof.end(), ok.agentProof.begin());
    EXPECT_EQ(state.check(ok), HandshakeState::OkVerdict::established);
    state.forgetAgreement();
    EXPECT_EQ(state.check(ok), HandshakeState::OkVerdict::ignored);
}

TEST_F(HandshakeStateTest, HelloCarriesOurKeysAndEachHelloAFreshEphemeralKey) {
    const wex::Hello first = state.hello(self, "desk", 29, true, wex::AuthMode::keypair);
    EXPECT_EQ(first.reqId, 1);
    EXPECT_EQ(first.protoMin, 1);
    EXPECT_EQ(first.protoMax, 1);
    EXPECT_EQ(wex::Bytes(first.deviceId.begin(), first.deviceId.end()), myId);
    EXPECT_EQ(first.staticPub, me.publicKey());
    EXPECT_EQ(first.deviceName, "desk");
    EXPECT_EQ(first.capabilities, 29u);
    EXPECT_EQ(state.stage(), HandshakeStage::dialing);
    EXPECT_NE(state.hello(self, "desk", 29, true, wex::AuthMode::keypair).ephPub, first.ephPub);
}

TEST_F(HandshakeStateTest, TheKeyProvesUsOnlyToATrustedAgentThatStillKnowsUs) {
    using P = HandshakeState::Proof;
    EXPECT_EQ(HandshakeState::choose({true, false, true}), P::key);
    EXPECT_EQ(HandshakeState::choose({true, false, false}), P::key);
    EXPECT_EQ(HandshakeState::choose({true, true, true}), P::code);
    EXPECT_EQ(HandshakeState::choose({false, false, true}), P::code);
    EXPECT_EQ(HandshakeState::choose({true, true, false}), P::askForCode);
    EXPECT_EQ(HandshakeState::choose({false, false, false}), P::askForCode);
}

TEST_F(HandshakeStateTest, AValidProofFromAKeyOtherThanTheTrustedOneIsAChangedIdentity) {
    const auto& key = newEphemeralKey();
    const wex::Bytes eph(key.begin(), key.end());
    const wex::HelloAck ack = agent.ack(eph);
    ASSERT_EQ(state.check(ack, self, {}, agentId), Verdict::accepted);
    const auto auth = state.codeAuth("123456", 2);
    ASSERT_TRUE(auth);
    EXPECT_EQ(auth->reqId, 2);
    const wex::Bytes transcript =
        wex::WEXHandshake::transcript(myId, me.publicKey(), ack.staticPub, ack.challenge, eph, ack.ephPub);
    const wex::Bytes bind(ack.chanbind.begin(), ack.chanbind.end());
    // The code is used exactly as given.
    EXPECT_TRUE(wex::WEXHandshake::verifyPskProof(auth->proof, wex::pairingCodeKey("123456"), transcript, bind));
    EXPECT_FALSE(wex::WEXHandshake::verifyPskProof(auth->proof, wex::pairingCodeKey("123-456"), transcript, bind));

    wex::AuthOk ok;
    const wex::Bytes proof = wex::WEXHandshake::agentProof(agent.identity, transcript, bind);
    std::copy(proof.begin(), proof.end(), ok.agentProof.begin());
    EXPECT_EQ(state.check(ok, wex::Bytes(32, 9)), HandshakeState::OkVerdict::keyChanged);
    EXPECT_EQ(state.check(ok, state.agentPub()), HandshakeState::OkVerdict::established);
    EXPECT_EQ(state.check(ok, std::nullopt), HandshakeState::OkVerdict::established);
    EXPECT_TRUE(state.openSession());
}

TEST(ControllerHandshakeRefusal, EachAuthFailReasonAsksForItsStep) {
    using R = HandshakeState::Refusal;
    const auto fail = [](wex::AuthFailReason reason, std::string message) {
        return HandshakeState::refusal(wex::AuthFail{2, reason, std::move(message)}.encode());
    };
    const auto busy = fail(wex::AuthFailReason::tooManySessions, "in use");
    EXPECT_EQ(busy.refusal, R::busy);
    EXPECT_EQ(busy.message, "in use");
    EXPECT_EQ(fail(wex::AuthFailReason::notPaired, "").refusal, R::notPaired);
    const auto bad = fail(wex::AuthFailReason::badProof, "");
    EXPECT_EQ(bad.refusal, R::final);
    EXPECT_EQ(bad.reason, 2);
    // A message that does not decode is a refusal with no reason and no words.
    const auto garbled = HandshakeState::refusal(wex::Bytes{1});
    EXPECT_EQ(garbled.refusal, R::final);
    EXPECT_EQ(garbled.reason, 0);
    EXPECT_TRUE(garbled.message.empty());
}

#include <algorithm>

#include <gtest/gtest.h>

#include "controller/client/HandshakeState.h"
#include "protocol/Hex.h"
#include "protocol/WEXHandshake.h"

using dovrel::controller::HandshakeStage;
using dovrel::controller::HandshakeState;
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
    Agent agent;
    HandshakeState state;
    std::string agentId;
};

} // namespace

TEST_F(HandshakeStateTest, NothingIsAnsweredBeforeAHelloOrAnAcceptedAck) {
    EXPECT_EQ(state.check(agent.ack(wex::Bytes(32, 0)), me, myId, {}, agentId), Verdict::ignored);
    EXPECT_FALSE(state.keypairAuth(me));
    EXPECT_EQ(state.stage(), HandshakeStage::sentKeypairAuth);
    EXPECT_FALSE(state.pskAuth("123456"));
    EXPECT_EQ(state.stage(), HandshakeStage::sentPskAuth);
    EXPECT_EQ(state.check(wex::AuthOk{}), HandshakeState::OkVerdict::ignored);
    state.restart();
    EXPECT_EQ(state.stage(), HandshakeStage::dialing);
}

TEST_F(HandshakeStateTest, EachForgedAckIsNamed) {
    const auto& key = state.newEphemeralKey();
    const wex::Bytes eph(key.begin(), key.end());
    wex::HelloAck foreign = agent.ack(eph);
    foreign.deviceId[0] ^= 1;
    EXPECT_EQ(state.check(foreign, me, myId, {}, agentId), Verdict::foreignDeviceId);
    EXPECT_EQ(state.check(agent.ack(eph), me, myId, std::string(32, 'a'), agentId), Verdict::roomNotOwned);
    wex::HelloAck tampered = agent.ack(eph);
    tampered.chanbind[5] ^= 1;
    EXPECT_EQ(state.check(tampered, me, myId, {}, agentId), Verdict::tampered);
    EXPECT_EQ(agentId, agent.id());
    EXPECT_FALSE(state.keypairAuth(me)); // nothing of a refused answer is kept
}

TEST_F(HandshakeStateTest, AnAcceptedAckIsAnsweredWithAProofAndOnlyTheAgentsKeyProvesAuthOk) {
    const auto& key = state.newEphemeralKey();
    const wex::Bytes eph(key.begin(), key.end());
    const wex::HelloAck ack = agent.ack(eph);
    // The room through the relay is compared without regard to letter case.
    std::string room = agent.id();
    std::transform(room.begin(), room.end(), room.begin(), ::toupper);
    ASSERT_EQ(state.check(ack, me, myId, room, agentId), Verdict::accepted);
    EXPECT_EQ(state.agentPub(), wex::Bytes(ack.staticPub.begin(), ack.staticPub.end()));

    const auto auth = state.keypairAuth(me);
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
    EXPECT_EQ(state.check(ok), HandshakeState::OkVerdict::holds);
    state.forgetAgreement();
    EXPECT_EQ(state.check(ok), HandshakeState::OkVerdict::ignored);
}

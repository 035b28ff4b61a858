// Handshake computations, the pairing-code key, and a controller and an agent running the whole
// handshake against each other in one process before sealing on every stream.
#include <random>

#include <gtest/gtest.h>

#include "OpenSSLOracle.h"
#include "TestBytes.h"
#include "protocol/EphemeralKey.h"
#include "protocol/Frame.h"
#include "protocol/PairingCode.h"
#include "protocol/SecureSession.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/WEXHandshake.h"
#include "tests/support/SecureSessionTestAccess.h"

using namespace wex;
using wex::test::hexBytes;

namespace {

Bytes bytesOf(ByteView v) { return Bytes(v.begin(), v.end()); }

Bytes cat(std::initializer_list<ByteView> parts) {
    Bytes out;
    for (ByteView p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Sample handshake inputs of the usual sizes.
struct Inputs {
    DeviceIdentity client, agent;
    Bytes clientDeviceId = Crypto::randomBytes(16), challenge = Crypto::randomBytes(24);
    EphemeralKey clientEph, agentEph;

    Bytes transcript() const {
        return WEXHandshake::transcript(clientDeviceId, client.publicKey(), agent.publicKey(), challenge,
                                        clientEph.publicKey(), agentEph.publicKey());
    }
    Bytes chanbind() const { return WEXHandshake::channelBinding(clientEph.publicKey(), agentEph.publicKey()); }
};

} // namespace

TEST(WEXHandshake, TranscriptAndChannelBinding) {
    const Inputs in;
    const Bytes t = in.transcript();
    ASSERT_EQ(t.size(), 168u);
    EXPECT_EQ(t, cat({in.clientDeviceId, in.client.publicKey(), in.agent.publicKey(), in.challenge,
                      in.clientEph.publicKey(), in.agentEph.publicKey()}));
    const Bytes cb = in.chanbind();
    EXPECT_EQ(cb, oracle::sha256(cat({in.clientEph.publicKey(), in.agentEph.publicKey()})));
    EXPECT_NE(cb, WEXHandshake::channelBinding(in.agentEph.publicKey(), in.clientEph.publicKey()));
}

TEST(WEXHandshake, SignatureProofsAreBoundToTheirRole) {
    const Inputs in;
    const Bytes t = in.transcript(), cb = in.chanbind();
    const Bytes cp = WEXHandshake::clientProof(in.client, t, cb);
    const Bytes ap = WEXHandshake::agentProof(in.agent, t, cb);
    ASSERT_EQ(cp.size(), 64u);
    ASSERT_EQ(ap.size(), 64u);
    EXPECT_TRUE(WEXHandshake::verifyClientProof(cp, in.client.publicKey(), t, cb));
    EXPECT_FALSE(WEXHandshake::verifyAgentProof(cp, in.client.publicKey(), t, cb));
    EXPECT_TRUE(WEXHandshake::verifyAgentProof(ap, in.agent.publicKey(), t, cb));
    EXPECT_FALSE(WEXHandshake::verifyClientProof(ap, in.agent.publicKey(), t, cb));
    // The agent signing as a client (or the reverse) proves nothing for the other role.
    const Bytes agentAsClient = WEXHandshake::clientProof(in.agent, t, cb);
    EXPECT_FALSE(WEXHandshake::verifyAgentProof(agentAsClient, in.agent.publicKey(), t, cb));
    EXPECT_FALSE(WEXHandshake::verifyClientProof(cp, in.agent.publicKey(), t, cb));

    const Bytes pub = bytesOf(in.client.publicKey());
    EXPECT_FALSE(WEXHandshake::verifyClientProof(cp, ByteView(pub).first(31), t, cb));
    EXPECT_FALSE(WEXHandshake::verifyClientProof({}, pub, t, cb));
}

TEST(WEXHandshake, ProofsAgreeWithOpenSSL) {
    std::mt19937 rng(17);
    const Bytes agentSuffix = hexBytes("6167656e74"); // "agent", five bytes
    for (int i = 0; i < 20; ++i) {
        const Bytes clientSeed = test::randomBytes(rng, 32), agentSeed = test::randomBytes(rng, 32);
        const DeviceIdentity client(clientSeed), agent(agentSeed);
        const Bytes t = test::randomBytes(rng, 168), cb = test::randomBytes(rng, 32);
        const Bytes psk = test::randomBytes(rng, 32);

        EXPECT_EQ(WEXHandshake::clientProof(client, t, cb), oracle::ed25519Sign(clientSeed, cat({t, cb})));
        EXPECT_EQ(WEXHandshake::agentProof(agent, t, cb), oracle::ed25519Sign(agentSeed, cat({t, cb, agentSuffix})));
        EXPECT_TRUE(WEXHandshake::verifyAgentProof(oracle::ed25519Sign(agentSeed, cat({t, cb, agentSuffix})),
                                                   agent.publicKey(), t, cb));
        Bytes expectedPsk = oracle::hmacSha256(psk, cat({t, cb}));
        expectedPsk.resize(64, 0);
        EXPECT_EQ(WEXHandshake::pskProof(psk, t, cb), expectedPsk);
    }
}

TEST(WEXHandshake, PairingCodeProof) {
    const Inputs in;
    const Bytes t = in.transcript(), cb = in.chanbind();
    const auto psk = pairingCodeKey("123456");
    const Bytes proof = WEXHandshake::pskProof(psk, t, cb);
    ASSERT_EQ(proof.size(), 64u);
    EXPECT_EQ(Bytes(proof.begin() + 32, proof.end()), Bytes(32, 0));
    EXPECT_TRUE(WEXHandshake::verifyPskProof(proof, psk, t, cb));

    Bytes padded = proof;
    padded[40] = 0x77;
    EXPECT_TRUE(WEXHandshake::verifyPskProof(padded, psk, t, cb)) << "the padding is not compared";
    for (std::size_t i = 0; i < 32; ++i) {
        Bytes bad = proof;
        bad[i] ^= 0x01;
        EXPECT_FALSE(WEXHandshake::verifyPskProof(bad, psk, t, cb)) << i;
    }
    EXPECT_FALSE(WEXHandshake::verifyPskProof(ByteView(proof).first(32), psk, t, cb));
    Bytes longer = proof;
    longer.push_back(0);
    EXPECT_FALSE(WEXHandshake::verifyPskProof(longer, psk, t, cb));
    EXPECT_FALSE(WEXHandshake::verifyPskProof(proof, pairingCodeKey("123457"), t, cb));
    EXPECT_FALSE(WEXHandshake::verifyPskProof({}, psk, t, cb));
}

TEST(WEXHandshake, AChangedChallengeFailsEveryProof) {
    const Inputs in;
    const Bytes t = in.transcript(), cb = in.chanbind();
    const auto psk = pairingCodeKey("000000");
    const Bytes cp = WEXHandshake::clientProof(in.client, t, cb), ap = WEXHandshake::agentProof(in.agent, t, cb);
    const Bytes pp = WEXHandshake::pskProof(psk, t, cb);
    for (std::size_t i = 0; i < in.challenge.size(); ++i) {
        Bytes challenge = in.challenge;
        challenge[i] ^= 0x10;
        const Bytes t2 = WEXHandshake::transcript(in.clientDeviceId, in.client.publicKey(), in.agent.publicKey(),
                                                  challenge, in.clientEph.publicKey(), in.agentEph.publicKey());
        EXPECT_FALSE(WEXHandshake::verifyClientProof(cp, in.client.publicKey(), t2, cb));
        EXPECT_FALSE(WEXHandshake::verifyAgentProof(ap, in.agent.publicKey(), t2, cb));
        EXPECT_FALSE(WEXHandshake::verifyPskProof(pp, psk, t2, cb));
    }
}

TEST(PairingCode, KeyIsTheDigestOfPrefixAndCode) {
    const auto key = pairingCodeKey("123456");
    EXPECT_EQ(bytesOf(key), hexBytes("52c0ca6ed669e535c1fe3ca188eea54840e8bcea16d0dbf2825b46e537d73029"));
    // "WEX-pair-v1:" as its 12 bytes, then the digits: no terminating NUL in between.
    EXPECT_EQ(bytesOf(key), oracle::sha256(cat({hexBytes("5745582d706169722d76313a"), test::asciiBytes("123456")})));
    EXPECT_NE(pairingCodeKey("123456"), pairingCodeKey("654321"));
    EXPECT_NE(pairingCodeKey("012345"), pairingCodeKey("12345"));
}

// ---- A controller and an agent, each with only its own secrets, talking through encoded frames.

namespace {

// Control message types of the session-setup messages, as the frames carry them.
constexpr uint8_t typeHello = 1, typeHelloAck = 2, typeAuth = 3, typeAuthOk = 4;

Bytes frameOf(uint8_t type, const Bytes& payload) { return buildFrame(Stream::control, type, 0, {}, payload); }

Bytes payloadOf(const Bytes& frame, uint8_t expectedType) {
    const PlainFrame f = parseFrame(frame);
    EXPECT_EQ(f.header.msgType, expectedType);
    return f.payload;
}

template <std::size_t N> FixedBytes<N> fixed(ByteView v) {
    auto f = fixedBytes<N>(v);
    EXPECT_TRUE(f);
    return f.value_or(FixedBytes<N>{});
}

struct Agent {
    DeviceIdentity identity;
    std::string pairingCode = "482913";
    std::vector<DeviceIdentity::PublicKey> paired;

    struct Pending {
        Hello hello;
        SessionKeys keys;
        FixedBytes<24> challenge;
        FixedBytes<32> chanbind;
        EphemeralKey::PublicKey ephPub;
    };
    std::optional<Pending> pending;
    std::unique_ptr<SecureSession> session;

    Bytes onHello(const Bytes& frame) {
        const Hello hello = Hello::decode(payloadOf(frame, typeHello));
        const EphemeralKey eph;
        const auto challenge = fixed<24>(Crypto::randomBytes(24));
        const auto chanbind = fixed<32>(WEXHandshake::channelBinding(hello.ephPub, eph.publicKey()));
        const auto keys = SessionKeys::derive(eph.sharedSecret(hello.ephPub).view(), hello.ephPub, eph.publicKey());
        pending = Pending{hello, keys, challenge, chanbind, eph.publicKey()};
        HelloAck ack{hello.reqId, 1,         {},       identity.publicKey(), eph.publicKey(),
                     challenge,   123456789, chanbind, Cap::wakeProxy,       true};
        std::copy_n(identity.publicKey().begin(), 16, ack.deviceId.begin());
        return frameOf(typeHelloAck, ack.encode());
    }

    std::optional<Bytes> onAuth(const Bytes& frame) {
        const Auth auth = Auth::decode(payloadOf(frame, typeAuth));
        if (!pending) return std::nullopt;
        const Pending p = *std::exchange(pending, std::nullopt);
        const Bytes t = WEXHandshake::transcript(p.hello.deviceId, p.hello.staticPub, identity.publicKey(), p.challenge,
                                                 p.hello.ephPub, p.ephPub);
        if (auth.authMode == AuthMode::psk) {
            if (!WEXHandshake::verifyPskProof(auth.proof, pairingCodeKey(pairingCode), t, p.chanbind))
                return std::nullopt;
            paired.push_back(p.hello.staticPub);
        } else {
            if (!WEXHandshake::verifyClientProof(auth.proof, p.hello.staticPub, t, p.chanbind)) return std::nullopt;
            if (std::find(paired.begin(), paired.end(), p.hello.staticPub) == paired.end()) return std::nullopt;
        }
        const AuthOk ok{auth.reqId, 1, fixed<64>(WEXHandshake::agentProof(identity, t, p.chanbind)), 0, 2000, 8000};
        session = std::make_unique<SecureSession>(p.keys, Direction::agentToClient);
        return frameOf(typeAuthOk, ok.encode());
    }
};

struct Controller {
    DeviceIdentity identity;
    FixedBytes<16> deviceId = fixed<16>(Crypto::randomBytes(16));
    EphemeralKey eph;
    std::optional<HelloAck> ack;
    std::optional<SessionKeys> keys;
    std::unique_ptr<SecureSession> session;

    Bytes hello(AuthMode mode) {
        return frameOf(typeHello, Hello{7, 1, 1, deviceId, identity.publicKey(), eph.publicKey(), mode, "Test Mac",
                                        Cap::screenClient, true}
                                      .encode());
    }

    std::optional<Bytes> onHelloAck(const Bytes& frame, AuthMode mode, std::string_view typedCode = {}) {
        ack = HelloAck::decode(payloadOf(frame, typeHelloAck));
        if (!std::equal(ack->deviceId.begin(), ack->deviceId.end(), ack->staticPub.begin())) return std::nullopt;
        if (bytesOf(ack->chanbind) != WEXHandshake::channelBinding(eph.publicKey(), ack->ephPub)) return std::nullopt;
        keys = SessionKeys::derive(eph.sharedSecret(ack->ephPub).view(), eph.publicKey(), ack->ephPub);
        const Bytes t = transcript();
        const Bytes proof = mode == AuthMode::psk ? WEXHandshake::pskProof(pairingCodeKey(typedCode), t, ack->chanbind)
                                                  : WEXHandshake::clientProof(identity, t, ack->chanbind);
        return frameOf(typeAuth, Auth{8, mode, fixed<64>(proof), fixed<24>(Crypto::randomBytes(24))}.encode());
    }

    bool onAuthOk(const Bytes& frame) {
        const AuthOk ok = AuthOk::decode(payloadOf(frame, typeAuthOk));
        if (!WEXHandshake::verifyAgentProof(ok.agentProof, ack->staticPub, transcript(), ack->chanbind)) return false;
        session = std::make_unique<SecureSession>(*keys, Direction::clientToAgent);
        return true;
    }

    Bytes transcript() const {
        return WEXHandshake::transcript(deviceId, identity.publicKey(), ack->staticPub, ack->challenge, eph.publicKey(),
                                        ack->ephPub);
    }
};

void expectSealedBothWaysOnEveryStream(SecureSession& agent, SecureSession& controller) {
    for (Stream s : {Stream::control, Stream::video, Stream::input, Stream::audio}) {
        for (int i = 0; i < 3; ++i) {
            const Bytes down = Crypto::randomBytes(100 + static_cast<std::size_t>(i));
            const auto got = controller.openFrame(agent.sealNext(s, 9, 1, 0, down));
            ASSERT_TRUE(got) << static_cast<int>(s);
            EXPECT_EQ(got->plaintext, down);
            EXPECT_EQ(got->seq, static_cast<uint32_t>(i));
            const Bytes up = Crypto::randomBytes(50);
            const auto back = agent.openFrame(controller.sealNext(s, 9, 1, 0, up));
            ASSERT_TRUE(back) << static_cast<int>(s);
            EXPECT_EQ(back->plaintext, up);
        }
    }
}

} // namespace

TEST(HandshakeInProcess, PairByCodeThenReconnectByKey) {
    Agent agent;
    Controller first;
    const auto auth = first.onHelloAck(agent.onHello(first.hello(AuthMode::psk)), AuthMode::psk, "482913");
    ASSERT_TRUE(auth);
    const auto ok = agent.onAuth(*auth);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(first.onAuthOk(*ok));
    ASSERT_EQ(agent.paired.size(), 1u);
    expectSealedBothWaysOnEveryStream(*agent.session, *first.session);

    // The same controller identity comes back with a fresh ephemeral key and proves itself by signature.
    Controller again;
    again.identity = first.identity;
    const auto auth2 = again.onHelloAck(agent.onHello(again.hello(AuthMode::keypair)), AuthMode::keypair);
    ASSERT_TRUE(auth2);
    const auto ok2 = agent.onAuth(*auth2);
    ASSERT_TRUE(ok2);
    ASSERT_TRUE(again.onAuthOk(*ok2));
    EXPECT_FALSE(*again.keys == *first.keys) << "every session has keys of its own";
    expectSealedBothWaysOnEveryStream(*agent.session, *again.session);
    // A frame of the first session does not open in the second.
    EXPECT_FALSE(again.session->openFrame(
        SecureSessionTestAccess::sealFrame(*first.session, Stream::control, 1, 1, 100, 0, Bytes{1})));
}

TEST(HandshakeInProcess, RefusesWrongCodesUnpairedKeysAndTamperedKeys) {
    Agent agent;
    {
        Controller c;
        const auto auth = c.onHelloAck(agent.onHello(c.hello(AuthMode::psk)), AuthMode::psk, "111111");
        ASSERT_TRUE(auth);
        EXPECT_FALSE(agent.onAuth(*auth)) << "wrong code";
    }
    {
        Controller c;
        const auto auth = c.onHelloAck(agent.onHello(c.hello(AuthMode::keypair)), AuthMode::keypair);
        ASSERT_TRUE(auth);
        EXPECT_FALSE(agent.onAuth(*auth)) << "a valid signature by a key that is not paired";
    }
    {
        // Someone in the middle swaps the agent's ephemeral key but cannot fix the channel binding.
        Controller c;
        Bytes ackFrame = agent.onHello(c.hello(AuthMode::psk));
        ackFrame[12 + 51] ^= 0x01;
        EXPECT_FALSE(c.onHelloAck(ackFrame, AuthMode::psk, "482913"));
    }
    {
        // ... and with the binding recomputed, the transcripts differ, so the agent refuses the proof.
        Controller c;
        const PlainFrame f = parseFrame(agent.onHello(c.hello(AuthMode::psk)));
        HelloAck ack = HelloAck::decode(f.payload);
        const EphemeralKey mallory;
        ack.ephPub = mallory.publicKey();
        ack.chanbind = fixed<32>(WEXHandshake::channelBinding(c.eph.publicKey(), mallory.publicKey()));
        const auto auth = c.onHelloAck(frameOf(typeHelloAck, ack.encode()), AuthMode::psk, "482913");
        ASSERT_TRUE(auth);
        EXPECT_FALSE(agent.onAuth(*auth));
    }
    {
        // An agent proof for another transcript is refused by the controller.
        Controller c;
        const auto auth = c.onHelloAck(agent.onHello(c.hello(AuthMode::psk)), AuthMode::psk, "482913");
        ASSERT_TRUE(auth);
        const auto ok = agent.onAuth(*auth);
        ASSERT_TRUE(ok);
        AuthOk tampered = AuthOk::decode(parseFrame(*ok).payload);
        tampered.agentProof[0] ^= 1;
        EXPECT_FALSE(c.onAuthOk(frameOf(typeAuthOk, tampered.encode())));
        EXPECT_TRUE(c.onAuthOk(*ok));
    }
    EXPECT_EQ(agent.paired.size(), 1u);
}

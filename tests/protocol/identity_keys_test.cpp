// Device identities, ephemeral keys, session-key derivation and the nonce.
#include <random>

#include <gtest/gtest.h>
#include <sodium.h>

#include "OpenSSLOracle.h"
#include "TestBytes.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/EphemeralKey.h"
#include "protocol/SessionKeys.h"

using namespace wex;
using wex::test::hexBytes;

namespace {

Bytes bytesOf(ByteView v) { return Bytes(v.begin(), v.end()); }

// The group order L of Ed25519, little-endian.
const Bytes groupOrder = hexBytes("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");

// S + L: the same scalar modulo L, but not its canonical encoding.
Bytes addGroupOrder(Bytes sig) {
    unsigned carry = 0;
    for (std::size_t i = 0; i < 32; ++i) {
        const unsigned sum = sig[32 + i] + groupOrder[i] + carry;
        sig[32 + i] = static_cast<uint8_t>(sum);
        carry = sum >> 8;
    }
    return sig;
}

} // namespace

TEST(DeviceIdentity, PersistsAsItsSeedAndSignsVerifiably) {
    const DeviceIdentity a;
    const DeviceIdentity b;
    EXPECT_NE(a.publicKey(), b.publicKey());
    const Bytes raw = a.raw();
    ASSERT_EQ(raw.size(), 32u);
    const DeviceIdentity again(raw);
    EXPECT_EQ(again.publicKey(), a.publicKey());

    const Bytes msg = test::asciiBytes("message to sign");
    const Bytes sig = a.sign(msg);
    ASSERT_EQ(sig.size(), 64u);
    EXPECT_EQ(again.sign(msg), sig) << "Ed25519 signatures are deterministic";
    EXPECT_TRUE(DeviceIdentity::verify(sig, msg, a.publicKey()));
    EXPECT_TRUE(oracle::ed25519Verify(a.publicKey(), msg, sig));

    Bytes changed = msg;
    changed[3] ^= 0x20;
    EXPECT_FALSE(DeviceIdentity::verify(sig, changed, a.publicKey()));
    EXPECT_FALSE(DeviceIdentity::verify(sig, msg, b.publicKey()));
    const Bytes pub(a.publicKey().begin(), a.publicKey().end());
    EXPECT_FALSE(DeviceIdentity::verify(sig, msg, Bytes(pub.begin(), pub.end() - 1)));
    Bytes longer = pub;
    longer.push_back(0);
    EXPECT_FALSE(DeviceIdentity::verify(sig, msg, longer));
    EXPECT_FALSE(DeviceIdentity::verify(Bytes(sig.begin(), sig.end() - 1), msg, pub));
    EXPECT_FALSE(DeviceIdentity::verify({}, msg, pub));
}

TEST(DeviceIdentity, RefusesSeedsOfTheWrongSize) {
    EXPECT_THROW(DeviceIdentity(Bytes(31, 1)), CryptoError);
    EXPECT_THROW(DeviceIdentity(Bytes(33, 1)), CryptoError);
    EXPECT_THROW(DeviceIdentity(Bytes{}), CryptoError);
    EXPECT_THROW(DeviceIdentity(Bytes(64, 1)), CryptoError) << "libsodium's 64-byte secret key is not a seed";
}

TEST(DeviceIdentity, SignaturesAgreeWithOpenSSLBothWays) {
    std::mt19937 rng(11);
    for (int i = 0; i < 50; ++i) {
        const Bytes seed = test::randomBytes(rng, 32);
        const Bytes msg = test::randomBytes(rng, rng() % 400);
        const DeviceIdentity id(seed);
        ASSERT_EQ(bytesOf(id.publicKey()), oracle::ed25519Public(seed));
        ASSERT_EQ(id.sign(msg), oracle::ed25519Sign(seed, msg));
        ASSERT_TRUE(DeviceIdentity::verify(oracle::ed25519Sign(seed, msg), msg, id.publicKey()));
    }
}

TEST(DeviceIdentity, RejectsSmallOrderAndNonCanonicalKeys) {
    // With the neutral element as public key, [S]B = R + [k]A holds for R = [r]B and S = r whatever the
    // message: a verifier that takes such a key accepts a signature anyone can make.
    unsigned char r[32], R[32];
    crypto_core_ed25519_scalar_random(r);
    ASSERT_EQ(crypto_scalarmult_ed25519_base_noclamp(R, r), 0);
    Bytes forged(R, R + 32);
    forged.insert(forged.end(), r, r + 32);
    const Bytes msg = test::asciiBytes("anything");

    const Bytes identityPoint = hexBytes("0100000000000000000000000000000000000000000000000000000000000000");
    // The same point with y written as p + 1: not canonical.
    const Bytes identityNonCanonical = hexBytes("eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f");
    // A point of order 8.
    const Bytes order8 = hexBytes("c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a");
    EXPECT_FALSE(DeviceIdentity::verify(forged, msg, identityPoint));
    EXPECT_FALSE(DeviceIdentity::verify(forged, msg, identityNonCanonical));
    EXPECT_FALSE(DeviceIdentity::verify(forged, msg, order8));
    EXPECT_FALSE(DeviceIdentity::verify(forged, msg, Bytes(32, 0)));
}

TEST(DeviceIdentity, RejectsANonCanonicalS) {
    const DeviceIdentity id;
    const Bytes msg = test::asciiBytes("pay 10");
    const Bytes sig = id.sign(msg);
    ASSERT_TRUE(DeviceIdentity::verify(sig, msg, id.publicKey()));
    // S + L reduces to the same scalar: accepting it would make signatures malleable.
    const Bytes malleated = addGroupOrder(sig);
    ASSERT_NE(malleated, sig);
    EXPECT_FALSE(DeviceIdentity::verify(malleated, msg, id.publicKey()));
    // A small-order R with S = 0 fails as well.
    Bytes smallR = hexBytes("0100000000000000000000000000000000000000000000000000000000000000");
    smallR.resize(64, 0);
    EXPECT_FALSE(DeviceIdentity::verify(smallR, msg, id.publicKey()));
}

TEST(EphemeralKey, BothSidesAgreeAndMatchOpenSSL) {
    std::mt19937 rng(5);
    for (int i = 0; i < 30; ++i) {
        const Bytes aPriv = test::randomBytes(rng, 32), bPriv = test::randomBytes(rng, 32);
        const auto a = EphemeralKey::fromPrivate(aPriv);
        const auto b = EphemeralKey::fromPrivate(bPriv);
        ASSERT_EQ(bytesOf(a.publicKey()), oracle::x25519Public(aPriv));
        const auto ab = a.sharedSecret(b.publicKey());
        ASSERT_EQ(ab, b.sharedSecret(a.publicKey()));
        ASSERT_EQ(bytesOf(ab.view()), oracle::x25519(aPriv, bytesOf(b.publicKey())));
    }
    const EphemeralKey fresh1, fresh2;
    EXPECT_NE(fresh1.publicKey(), fresh2.publicKey());
}

TEST(EphemeralKey, RefusesMalformedAndSmallOrderPeerKeys) {
    const EphemeralKey k;
    EXPECT_THROW(k.sharedSecret(Bytes(31, 9)), CryptoError);
    EXPECT_THROW(k.sharedSecret(Bytes(33, 9)), CryptoError);
    EXPECT_THROW(k.sharedSecret({}), CryptoError);
    // Keys of small order give the all-zero secret, known to everyone.
    EXPECT_THROW(k.sharedSecret(Bytes(32, 0)), CryptoError);
    EXPECT_THROW(k.sharedSecret(hexBytes("0100000000000000000000000000000000000000000000000000000000000000")),
                 CryptoError);
    EXPECT_THROW(k.sharedSecret(hexBytes("e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800")),
                 CryptoError);
    EXPECT_THROW(EphemeralKey::fromPrivate(Bytes(31, 1)), CryptoError);
}

TEST(SessionKeys, BothSidesDeriveTheSameDirectionalKeys) {
    const EphemeralKey client, agent;
    const auto atAgent =
        SessionKeys::derive(agent.sharedSecret(client.publicKey()).view(), client.publicKey(), agent.publicKey());
    const auto atClient =
        SessionKeys::derive(client.sharedSecret(agent.publicKey()).view(), client.publicKey(), agent.publicKey());
    EXPECT_EQ(atAgent, atClient);
    EXPECT_FALSE(atAgent.c2a == atAgent.a2c);
    const auto swapped =
        SessionKeys::derive(agent.sharedSecret(client.publicKey()).view(), agent.publicKey(), client.publicKey());
    EXPECT_FALSE(swapped.c2a == atAgent.c2a);
    EXPECT_FALSE(swapped.a2c == atAgent.a2c);
    EXPECT_EQ(&atAgent.forDirection(Direction::clientToAgent), &atAgent.c2a);
    EXPECT_EQ(&atAgent.forDirection(Direction::agentToClient), &atAgent.a2c);
}

TEST(SessionKeys, DerivationMatchesOpenSSL) {
    // "WEX/1 session keys" as its 18 bytes, written out so that no C string handling is involved.
    const Bytes info = hexBytes("5745582f312073657373696f6e206b657973");
    ASSERT_EQ(info.size(), 18u);
    std::mt19937 rng(3);
    for (int i = 0; i < 30; ++i) {
        const Bytes cPriv = test::randomBytes(rng, 32), aPriv = test::randomBytes(rng, 32);
        const Bytes cPub = oracle::x25519Public(cPriv), aPub = oracle::x25519Public(aPriv);
        const Bytes shared = oracle::x25519(cPriv, aPub);
        Bytes both = cPub;
        both.insert(both.end(), aPub.begin(), aPub.end());
        const Bytes okm = oracle::hkdfSha256(shared, oracle::sha256(both), info, 64);

        const auto keys = SessionKeys::derive(EphemeralKey::fromPrivate(aPriv).sharedSecret(cPub).view(), cPub, aPub);
        ASSERT_EQ(bytesOf(keys.c2a.view()), Bytes(okm.begin(), okm.begin() + 32));
        ASSERT_EQ(bytesOf(keys.a2c.view()), Bytes(okm.begin() + 32, okm.end()));
    }
}

TEST(SessionKeys, FromBytesNeedsTwo32ByteKeys) {
    const auto k = SessionKeys::fromBytes(Bytes(32, 1), Bytes(32, 2));
    EXPECT_EQ(bytesOf(k.c2a.view()), Bytes(32, 1));
    EXPECT_EQ(bytesOf(k.a2c.view()), Bytes(32, 2));
    EXPECT_THROW(SessionKeys::fromBytes(Bytes(31, 1), Bytes(32, 2)), CryptoError);
    EXPECT_THROW(SessionKeys::fromBytes(Bytes(32, 1), Bytes(33, 2)), CryptoError);
}

TEST(Direction, RawValuesAndFlip) {
    EXPECT_EQ(directionFromRaw(0), Direction::clientToAgent);
    EXPECT_EQ(directionFromRaw(1), Direction::agentToClient);
    EXPECT_FALSE(directionFromRaw(2));
    EXPECT_FALSE(directionFromRaw(255));
    EXPECT_EQ(flipped(Direction::clientToAgent), Direction::agentToClient);
    EXPECT_EQ(flipped(Direction::agentToClient), Direction::clientToAgent);
}

TEST(WexNonce, Layout) {
    const auto n = wexNonce(Direction::agentToClient, Stream::video, 0x01020304);
    EXPECT_EQ(Bytes(n.begin(), n.end()), hexBytes("01 02 000000000000 01020304"));
    const auto m = wexNonce(Direction::clientToAgent, Stream::audio, 0xFFFFFFFF);
    EXPECT_EQ(Bytes(m.begin(), m.end()), hexBytes("00 04 000000000000 ffffffff"));
}

TEST(Crypto, RandomBytesOfNothingIsEmpty) {
    EXPECT_TRUE(wex::Crypto::randomBytes(0).empty());
    wex::Crypto::fillRandom(nullptr, 0);
}

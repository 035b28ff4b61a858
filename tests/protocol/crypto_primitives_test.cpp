// The primitives against their published vectors, each also recomputed with OpenSSL, and HKDF, HMAC and
// SHA-256 against OpenSSL on random inputs.
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "OpenSSLOracle.h"
#include "TestBytes.h"
#include "protocol/Crypto.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/EphemeralKey.h"

using namespace wex;
using wex::test::asciiBytes;
using wex::test::hexBytes;

namespace {

Bytes repeated(uint8_t b, std::size_t n) { return Bytes(n, b); }

Bytes counting(uint8_t from, std::size_t n) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(from + i);
    return out;
}

} // namespace

TEST(Ed25519, Rfc8032Section71Vectors) {
    struct Vector {
        const char *seed, *pub, *msg, *sig;
    };
    const Vector vectors[] = {
        {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
         "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
         "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f059"
         "5bbe24655141438e7a100b"},
        {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
         "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
         "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4"
         "302aeeb00d291612bb0c00"},
        {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
         "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
         "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e971"
         "6ed28dc027beceea1ec40a"},
        {"833fe62409237b9d62ec77587520911e9a759cec1d19755b7da901b96dca3d42",
         "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643"
         "ce80e2a9ac94fa54ca49f",
         "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b58909351fc9ac90b3ecfdfbc7c66431e0303dca179c138"
         "ac17ad9bef1177331a704"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.pub);
        const Bytes seed = hexBytes(v.seed), pub = hexBytes(v.pub), msg = hexBytes(v.msg), sig = hexBytes(v.sig);
        const DeviceIdentity id(seed);
        EXPECT_EQ(id.raw(), seed);
        EXPECT_EQ(Bytes(id.publicKey().begin(), id.publicKey().end()), pub);
        EXPECT_EQ(id.sign(msg), sig);
        EXPECT_TRUE(DeviceIdentity::verify(sig, msg, pub));
        EXPECT_EQ(oracle::ed25519Public(seed), pub);
        EXPECT_EQ(oracle::ed25519Sign(seed, msg), sig);
    }
}

TEST(X25519, Rfc7748Section61Vectors) {
    const Bytes alicePriv = hexBytes("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const Bytes alicePub = hexBytes("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    const Bytes bobPriv = hexBytes("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    const Bytes bobPub = hexBytes("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    const Bytes shared = hexBytes("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");

    const auto alice = EphemeralKey::fromPrivate(alicePriv);
    const auto bob = EphemeralKey::fromPrivate(bobPriv);
    EXPECT_EQ(Bytes(alice.publicKey().begin(), alice.publicKey().end()), alicePub);
    EXPECT_EQ(Bytes(bob.publicKey().begin(), bob.publicKey().end()), bobPub);
    const auto ab = alice.sharedSecret(bobPub);
    const auto ba = bob.sharedSecret(alicePub);
    EXPECT_EQ(Bytes(ab.view().begin(), ab.view().end()), shared);
    EXPECT_EQ(Bytes(ba.view().begin(), ba.view().end()), shared);
    EXPECT_EQ(oracle::x25519Public(alicePriv), alicePub);
    EXPECT_EQ(oracle::x25519(alicePriv, bobPub), shared);
}

TEST(HkdfSha256, Rfc5869AppendixA1ToA3) {
    struct Vector {
        Bytes ikm, salt, info;
        std::size_t length;
        const char* okm;
    };
    const Vector vectors[] = {
        {repeated(0x0b, 22), counting(0x00, 13), counting(0xf0, 10), 42,
         "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        {counting(0x00, 80), counting(0x60, 80), counting(0xb0, 80), 82,
         "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09da3275600c"
         "2f09b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},
        {repeated(0x0b, 22),
         {},
         {},
         42,
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.okm);
        EXPECT_EQ(Crypto::hkdfSha256(v.ikm, v.salt, v.info, v.length), hexBytes(v.okm));
        EXPECT_EQ(oracle::hkdfSha256(v.ikm, v.salt, v.info, v.length), hexBytes(v.okm));
    }
    // The pseudorandom key of A.1 is HMAC(salt, ikm).
    EXPECT_EQ(Crypto::hmacSha256(counting(0x00, 13), repeated(0x0b, 22)),
              hexBytes("077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5"));
}

TEST(HkdfSha256, LengthsUpToTheLimitAndNoFurther) {
    const Bytes ikm = counting(1, 32);
    EXPECT_TRUE(Crypto::hkdfSha256(ikm, {}, {}, 0).empty());
    const Bytes longest = Crypto::hkdfSha256(ikm, asciiBytes("salt"), asciiBytes("info"), Crypto::hkdfSha256MaxLength);
    EXPECT_EQ(longest, oracle::hkdfSha256(ikm, asciiBytes("salt"), asciiBytes("info"), Crypto::hkdfSha256MaxLength));
    // Each shorter output is a prefix of a longer one.
    const Bytes part = Crypto::hkdfSha256(ikm, asciiBytes("salt"), asciiBytes("info"), 33);
    EXPECT_EQ(part, Bytes(longest.begin(), longest.begin() + 33));
    EXPECT_THROW(Crypto::hkdfSha256(ikm, {}, {}, Crypto::hkdfSha256MaxLength + 1), CryptoError);
}

TEST(HmacSha256, Rfc4231TestCases) {
    struct Vector {
        Bytes key, data;
        const char* mac;
    };
    const Vector vectors[] = {
        {repeated(0x0b, 20), asciiBytes("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {asciiBytes("Jefe"), asciiBytes("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {repeated(0xaa, 20), repeated(0xdd, 50), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {counting(0x01, 25), repeated(0xcd, 50), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {repeated(0xaa, 131), asciiBytes("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {repeated(0xaa, 131),
         asciiBytes("This is a test using a larger than block-size key and a larger than block-size data. The key "
                    "needs to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.mac);
        EXPECT_EQ(Crypto::hmacSha256(v.key, v.data), hexBytes(v.mac));
        EXPECT_EQ(oracle::hmacSha256(v.key, v.data), hexBytes(v.mac));
        EXPECT_TRUE(Crypto::verifyHmacSha256(hexBytes(v.mac), v.key, v.data));
    }
    // Test case 5 publishes only the first 128 bits.
    const Bytes mac5 = Crypto::hmacSha256(repeated(0x0c, 20), asciiBytes("Test With Truncation"));
    EXPECT_EQ(Bytes(mac5.begin(), mac5.begin() + 16), hexBytes("a3b6167473100ee06e0c796c2955552b"));
    // A shortened tag is not a tag.
    EXPECT_FALSE(Crypto::verifyHmacSha256(Bytes(mac5.begin(), mac5.begin() + 16), repeated(0x0c, 20),
                                          asciiBytes("Test With Truncation")));
}

TEST(ChaCha20Poly1305, Rfc8439Section282) {
    const Bytes key = counting(0x80, 32);
    const Bytes nonce = hexBytes("070000004041424344454647");
    const Bytes aad = hexBytes("50515253c0c1c2c3c4c5c6c7");
    const Bytes plaintext =
        asciiBytes("Ladies and Gentlemen of the class of '99: If I could offer you only one tip for "
                   "the future, sunscreen would be it.");
    const Bytes ciphertext = hexBytes("d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca96712"
                                      "82fafb69da92728b1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58"
                                      "fab324e4fad675945585808b4831d7bc3ff4def08e4b7a9de576d26586cec64b6116");
    const Bytes tag = hexBytes("1ae10b594f09e26a7e902ecbd0600691");

    Bytes out(plaintext.size()), outTag(16);
    Crypto::aeadSeal(out.data(), outTag.data(), plaintext, aad, nonce.data(), key.data());
    EXPECT_EQ(out, ciphertext);
    EXPECT_EQ(outTag, tag);

    Bytes opened(ciphertext.size());
    ASSERT_TRUE(Crypto::aeadOpen(opened.data(), ciphertext, tag.data(), aad, nonce.data(), key.data()));
    EXPECT_EQ(opened, plaintext);
    Bytes badTag = tag;
    badTag[15] ^= 1;
    EXPECT_FALSE(Crypto::aeadOpen(opened.data(), ciphertext, badTag.data(), aad, nonce.data(), key.data()));
    EXPECT_EQ(opened, Bytes(opened.size(), 0)) << "a refused open leaves no plaintext behind";

    Bytes both = ciphertext;
    both.insert(both.end(), tag.begin(), tag.end());
    EXPECT_EQ(oracle::chachaSeal(key, nonce, aad, plaintext), both);
}

TEST(Crypto, HashesAgreeWithOpenSSLOnRandomInputs) {
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
        // OpenSSL's HKDF refuses an empty input key and an empty output, so those start at 1 byte.
        const Bytes data = test::randomBytes(rng, 1 + rng() % 300);
        const Bytes key = test::randomBytes(rng, rng() % 150);
        const Bytes info = test::randomBytes(rng, rng() % 40);
        const std::size_t length = 1 + rng() % 200;
        ASSERT_EQ(Crypto::sha256(data), oracle::sha256(data));
        ASSERT_EQ(Crypto::hmacSha256(key, data), oracle::hmacSha256(key, data));
        ASSERT_EQ(Crypto::hkdfSha256(data, key, info, length), oracle::hkdfSha256(data, key, info, length));
    }
}

TEST(Crypto, SHA256OfEmptyAndConstantTimeEquality) {
    EXPECT_EQ(Crypto::sha256({}), hexBytes("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    EXPECT_TRUE(Crypto::equalInConstantTime({}, {}));
    EXPECT_TRUE(Crypto::equalInConstantTime(hexBytes("0102"), hexBytes("0102")));
    EXPECT_FALSE(Crypto::equalInConstantTime(hexBytes("0102"), hexBytes("0103")));
    EXPECT_FALSE(Crypto::equalInConstantTime(hexBytes("0102"), hexBytes("010200")));
    const Bytes a = Crypto::randomBytes(32), b = Crypto::randomBytes(32);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, b);
}

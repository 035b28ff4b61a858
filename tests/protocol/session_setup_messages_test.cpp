// Hello, HelloAck, Auth, AuthOk and AuthFail: exact bytes, optional capabilities and the order in which
// decoding checks its fields.
#include <gtest/gtest.h>

#include "TestBytes.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/WEXError.h"

using namespace wex;
using wex::test::hexBytes;
using wex::test::thrownError;

namespace {

template <std::size_t N> FixedBytes<N> filled(uint8_t start) {
    FixedBytes<N> out;
    for (std::size_t i = 0; i < N; ++i)
        out[i] = static_cast<uint8_t>(start + i);
    return out;
}

Hello sampleHello() {
    return Hello{0x0102, 1, 2, filled<16>(0x10), filled<32>(0x20), filled<32>(0x40), AuthMode::psk, "Mac", 0x1D, true};
}

HelloAck sampleAck() {
    return HelloAck{0x0304,
                    1,
                    filled<16>(0x10),
                    filled<32>(0x20),
                    filled<32>(0x40),
                    filled<24>(0x60),
                    0x0102030405060708,
                    filled<32>(0x80),
                    Cap::wakeProxy,
                    true};
}

Bytes prefix(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

Bytes plus(Bytes b, std::initializer_list<uint8_t> extra) {
    b.insert(b.end(), extra);
    return b;
}

} // namespace

TEST(Hello, GoldenBytesAndRoundTrip) {
    const Hello h = sampleHello();
    const Bytes b = h.encode();
    Bytes expected = hexBytes("0102 01 02");
    for (int i = 0; i < 16; ++i)
        expected.push_back(static_cast<uint8_t>(0x10 + i));
    for (int i = 0; i < 32; ++i)
        expected.push_back(static_cast<uint8_t>(0x20 + i));
    for (int i = 0; i < 32; ++i)
        expected.push_back(static_cast<uint8_t>(0x40 + i));
    const Bytes tail = hexBytes("02 0003 4d6163 0000001d");
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(b, expected);
    ASSERT_EQ(b.size(), Hello::fixedSize + 3 + 4);
    EXPECT_EQ(Hello::decode(b), h);
    test::expectEveryPrefixTruncated(prefix(b, Hello::fixedSize + 3), [](const Bytes& p) { Hello::decode(p); });
}

TEST(Hello, CapabilitiesAreOptional) {
    Hello h = sampleHello();
    h.capabilities = Cap::assumedWhenAbsent;
    h.capabilitiesPresent = false;
    const Bytes bare = h.encode();
    ASSERT_EQ(bare.size(), 87u + 3);
    const Hello d = Hello::decode(bare);
    EXPECT_EQ(d.capabilities, 0x1Du);
    EXPECT_FALSE(d.capabilitiesPresent);
    EXPECT_EQ(d.encode(), bare);

    // 1 to 3 extra bytes are not capabilities; with 5 the first 4 are and the fifth is ignored.
    for (const Bytes& extra : {plus(bare, {0xFF}), plus(bare, {0xFF, 0xFF}), plus(bare, {0xFF, 0xFF, 0xFF})}) {
        const Hello e = Hello::decode(extra);
        EXPECT_EQ(e.capabilities, 0x1Du);
        EXPECT_FALSE(e.capabilitiesPresent);
    }
    const Hello five = Hello::decode(plus(bare, {0, 0, 0, 0x40, 0x99}));
    EXPECT_TRUE(five.capabilitiesPresent);
    EXPECT_EQ(five.capabilities, Cap::h264Only);

    h.capabilities = 0;
    h.capabilitiesPresent = true;
    EXPECT_EQ(Hello::decode(h.encode()).capabilities, 0u) << "an explicit 0 is a maintenance client, not absent";
}

TEST(Hello, AuthModeIsCheckedOnlyAfterTheName) {
    Bytes b = sampleHello().encode();
    b[84] = 3;
    EXPECT_EQ(thrownError([&] { Hello::decode(b); }), WEXError::badEnum("AuthMode", 3));
    // A name count that runs past the end is found first.
    EXPECT_EQ(thrownError([&] { Hello::decode(prefix(b, 87 + 2)); }), WEXError::truncated());
    b[84] = 0;
    EXPECT_EQ(thrownError([&] { Hello::decode(b); }), WEXError::badEnum("AuthMode", 0));
    b[84] = 1;
    EXPECT_EQ(Hello::decode(b).authMode, AuthMode::keypair);
}

TEST(Hello, NameIsRepairedAndLongNamesAreCutAtACharacter) {
    Bytes b = sampleHello().encode();
    b[87] = 0xFF; // "Mac" becomes FF "ac"
    EXPECT_EQ(Hello::decode(b).deviceName, "\xEF\xBF\xBD"
                                           "ac");
    Hello h = sampleHello();
    h.deviceName = std::string(65534, 'a') + "\xC3\xA9"; // 65536 bytes, the last character two bytes long
    const Hello d = Hello::decode(h.encode());
    EXPECT_EQ(d.deviceName, std::string(65534, 'a'));
    EXPECT_EQ(d.capabilities, h.capabilities) << "a cut name does not shift the fields after it";
}

TEST(HelloAck, GoldenBytesAndOptionalCapabilities) {
    const HelloAck a = sampleAck();
    const Bytes b = a.encode();
    ASSERT_EQ(b.size(), 151u);
    EXPECT_EQ(prefix(b, 3), hexBytes("0304 01"));
    EXPECT_EQ(Bytes(b.begin() + 107, b.begin() + 115), hexBytes("0102030405060708"));
    EXPECT_EQ(b[115], 0x80);
    EXPECT_EQ(Bytes(b.end() - 4, b.end()), hexBytes("00000020"));
    EXPECT_EQ(HelloAck::decode(b), a);

    const Bytes bare = prefix(b, 147);
    const HelloAck d = HelloAck::decode(bare);
    EXPECT_EQ(d.capabilities, 0u);
    EXPECT_FALSE(d.capabilitiesPresent);
    EXPECT_EQ(d.encode(), bare);
    EXPECT_FALSE(HelloAck::decode(plus(bare, {1, 2, 3})).capabilitiesPresent);
    test::expectEveryPrefixTruncated(bare, [](const Bytes& p) { HelloAck::decode(p); });
}

TEST(Auth, GoldenBytesAndCheckOrder) {
    const Auth a{0x0A0B, AuthMode::keypair, filled<64>(1), filled<24>(0xA0)};
    const Bytes b = a.encode();
    ASSERT_EQ(b.size(), 91u);
    EXPECT_EQ(prefix(b, 4), hexBytes("0a0b 01 01"));
    EXPECT_EQ(b[67], 0xA0);
    EXPECT_EQ(Auth::decode(b), a);
    test::expectEveryPrefixTruncated(b, [](const Bytes& p) { Auth::decode(p); });
    EXPECT_EQ(Auth::decode(plus(b, {9, 9})), a);

    Bytes zero = b;
    zero[2] = 0;
    EXPECT_EQ(thrownError([&] { Auth::decode(zero); }), WEXError::badEnum("AuthMode", 0));
    EXPECT_EQ(thrownError([&] { Auth::decode(prefix(zero, 90)); }), WEXError::truncated());
    zero[2] = 2;
    EXPECT_EQ(Auth::decode(zero).authMode, AuthMode::psk);
}

TEST(AuthOk, GoldenBytes) {
    const AuthOk ok{0x0001, 1, filled<64>(0x30), 0xCAFEBABE, 2000, 8000};
    const Bytes b = ok.encode();
    ASSERT_EQ(b.size(), 78u);
    EXPECT_EQ(prefix(b, 6), hexBytes("0001 00000001"));
    EXPECT_EQ(Bytes(b.begin() + 70, b.end()), hexBytes("cafebabe 07d0 1f40"));
    EXPECT_EQ(AuthOk::decode(b), ok);
    EXPECT_EQ(AuthOk{}.encode().size(), 78u);
    test::expectEveryPrefixTruncated(b, [](const Bytes& p) { AuthOk::decode(p); });
}

TEST(AuthFail, GoldenBytesAndReasonCheckedAfterMessage) {
    const AuthFail f{0x1234, AuthFailReason::tooManySessions, "x"};
    const Bytes b = f.encode();
    EXPECT_EQ(b, hexBytes("1234 05 0001 78"));
    EXPECT_EQ(AuthFail::decode(b), f);
    test::expectEveryPrefixTruncated(b, [](const Bytes& p) { AuthFail::decode(p); });
    EXPECT_EQ(AuthFail::decode(hexBytes("0000 02 0000")).reason, AuthFailReason::badProof);

    EXPECT_EQ(thrownError([] { AuthFail::decode(hexBytes("1234 07 0001 78")); }),
              WEXError::badEnum("AuthFailReason", 7));
    EXPECT_EQ(thrownError([] { AuthFail::decode(hexBytes("1234 00 0001 78")); }),
              WEXError::badEnum("AuthFailReason", 0));
    EXPECT_EQ(thrownError([] { AuthFail::decode(hexBytes("1234 07 0002 78")); }), WEXError::truncated());
}

TEST(SessionSetupEnums, RawValues) {
    EXPECT_EQ(authModeFromRaw(1), AuthMode::keypair);
    EXPECT_EQ(authModeFromRaw(2), AuthMode::psk);
    for (int v : {0, 3, 255})
        EXPECT_FALSE(authModeFromRaw(static_cast<uint8_t>(v)));
    const AuthFailReason reasons[] = {AuthFailReason::unknown,         AuthFailReason::badProof,
                                      AuthFailReason::notPaired,       AuthFailReason::version,
                                      AuthFailReason::tooManySessions, AuthFailReason::revoked};
    for (int v = 1; v <= 6; ++v)
        EXPECT_EQ(authFailReasonFromRaw(static_cast<uint8_t>(v)), reasons[v - 1]);
    for (int v : {0, 7, 255})
        EXPECT_FALSE(authFailReasonFromRaw(static_cast<uint8_t>(v)));

    EXPECT_TRUE(Cap::isMaintenance(0));
    EXPECT_FALSE(Cap::isMaintenance(0x40));
    EXPECT_EQ(Cap::assumedWhenAbsent, 0x1Du);
    EXPECT_EQ(Cap::screenClient, 0x1Du);
    EXPECT_EQ(Cap::inputOnlyClient, 0x05u);
}
